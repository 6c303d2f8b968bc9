#pragma once
// The one kind of failure of the authoring tool: a message for the user that
// says what is wrong with the input, raised before anything is written.
#include <stdexcept>
#include <string>

class AuthoringError : public std::runtime_error {
 public:
  explicit AuthoringError(const std::string& message) : std::runtime_error(message) {}
};
