#pragma once
// The internal error: an exception carrying a short fixed English message.
// It is raised by the manifest readers, the resource loader and the progress
// window, and caught only by the internal-error ending, which never shows the
// message.
#include <stdexcept>

class InternalError : public std::runtime_error {
 public:
  explicit InternalError(const char* message) : std::runtime_error(message) {}
};

[[noreturn]] inline void RaiseInternalError(const char* message) { throw InternalError(message); }
