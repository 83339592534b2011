#pragma once
// The project's one exception hierarchy. Messages are the system's own
// texts, stored as UTF-8.

#include <stdexcept>
#include <string>

namespace zirk {

class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EReadError : public EStreamError {
 public:
  EReadError() : EStreamError("Stream read error") {}
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  EWriteError() : EStreamError("Stream write error") {}
  using EStreamError::EStreamError;
};
// Raised when a file cannot be opened; the text names the file and the reason.
class EFOpenError : public EStreamError {
 public:
  EFOpenError(const std::string& fileName, const std::string& reason)
      : EStreamError("Cannot open file \"" + fileName + "\". " + reason) {}
};
class EFCreateError : public EStreamError {
 public:
  EFCreateError(const std::string& fileName, const std::string& reason)
      : EStreamError("Cannot create file \"" + fileName + "\". " + reason) {}
};

}  // namespace zirk
