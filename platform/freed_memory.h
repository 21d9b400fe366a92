// Freed heap memory that still holds memo text.
//
// The C library keeps freed heap chunks with their old bytes until they are
// used again, and Qt makes short-lived copies of the text it paints and of the
// keys typed. To leave no copy of a sealed memo behind:
//   - overwriteFreedMemory() makes glibc overwrite every chunk as it is freed
//     (mallopt M_PERTURB), for the rest of the process. It is turned on before a
//     sealed memo's text first enters memory (opening or saving a sealed file).
//   - glibc's per-thread cache of small freed chunks (tcache) is exempt from
//     that overwriting; scrubFreedMemory() takes every cached chunk of this
//     thread out, zeros it and frees it again. Locking calls it after wiping.
// Elsewhere than glibc both do nothing.
#pragma once

namespace tq {

void overwriteFreedMemory();
void scrubFreedMemory();

} // namespace tq
