// Errors of the archive engine.
//
// Every failure of the container or of an archive operation is reported as an
// ArchiveError whose what() is a complete, user-readable sentence that names the
// file or entry concerned and the reason, so a window can show it unchanged.
#pragma once

#include <stdexcept>
#include <string>

namespace tq {

class ArchiveError : public std::runtime_error {
public:
    explicit ArchiveError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace tq
