// For tests only (library tq_sealed_testing, never linked into a program a user
// runs): fixed random bytes for sealed files.
#pragma once

namespace tq::sealed {

// Makes every random byte the engine uses (salt, stream header) come from a
// deterministic generator seeded with `seed`, so a test can write a file whose
// bytes never change. Must be called before any function of crypto/sealed.h.
void UseDeterministicRandomForTests(const unsigned char (&seed)[32]);

} // namespace tq::sealed
