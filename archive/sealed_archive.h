// Sealed archives: a .X archive's bytes kept inside a sealed file
// (crypto/sealed.h, content "archive"), for the archive window and tarnquill-cli.
//
// Takes an XFileFrame and a path (UTF-8) with a passphrase or a held key.
// Opening reads and authenticates the whole sealed file before the container is
// touched, and loads the archive from memory: no byte of it is written to disk
// in the clear. Saving seals the container's bytes and writes the file
// atomically (0600 when new). The clear bytes held on the way are wiped.
//
// Refuses: a wrong passphrase or any damage (SealedError Refused, the container
// unchanged), a sealed memo (SealedError OtherContent, with a message that says
// so), an archive that does not load (ArchiveError), an unreadable file
// (FileError). Built only where libsodium is (not in the Windows cross build).
#pragma once

#include "archive/xfileframe.h"
#include "crypto/sealed.h"

#include <optional>
#include <string>

namespace tq::sealed_archive {

// Whether the file at `path` is a sealed file of any content (false when it
// cannot be read).
bool IsSealed(const std::string& path);

// Throws SealedError (OtherContent, saying what it holds) when the sealed file at
// `path` holds a memo, or as Unseal for a damaged header, before any derivation:
// a window checks this before it asks the passphrase.
void RequireArchive(const std::string& path);

// Opens the sealed archive at `path` into `frame` (RequireArchive first) and returns the key that
// opened it, to save it again without asking; nullopt when stopped (the
// container unchanged).
std::optional<sealed::SealKey> Open(XFileFrame& frame, const std::string& path,
                                    const sealed::SecretBytes& passphrase, const sealed::Work& work = {});

// Writes `frame` sealed with `key` to `path`. False when stopped (nothing written).
bool Save(const XFileFrame& frame, const std::string& path, const sealed::SealKey& key,
          const sealed::Work& work = {});
// Writes `frame` sealed under a new key derived from `passphrase` and `params`
// to `path`, and returns that key, to save again without asking; nullopt when
// stopped (nothing written).
std::optional<sealed::SealKey> SaveNew(const XFileFrame& frame, const std::string& path,
                                       const sealed::SecretBytes& passphrase, const sealed::Params& params,
                                       const sealed::Work& work = {});

} // namespace tq::sealed_archive
