// Exceptions of the mail components.
//
// Every failure of the mail transport is an exception whose what() is a text
// the user can read: a fixed text of the components ("Connection Failed",
// "Authentication failed", ...) or the server's own reply line.
#pragma once

#include <stdexcept>
#include <string>

namespace tq {

// A failure of the mail dialogue: a refused command (the server's reply is the
// message), a missing connection, an incomplete or unsafe message.
class EMailError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A socket or host lookup failure.
class ESockError : public EMailError {
public:
    using EMailError::EMailError;
};

// A send or read that the user cancelled.
class EAbortError : public EMailError {
public:
    using EMailError::EMailError;
};

} // namespace tq
