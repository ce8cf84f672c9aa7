// The program's one exception type and its printf-style raiser.
#pragma once

#include <exception>
#include <string>

// Carries one message text. Every layer outside the SSH protocol code reports
// failures by raising this; session threads and the entry point show the text.
class TException : public std::exception {
  public:
    explicit TException(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }

  private:
    std::string message_;
};

// Ends the program quietly when it reaches the entry point.
class TCloseException : public TException {
  public:
    TCloseException() : TException("") {}
};

// Formats like printf (the result is cut at 1023 characters) and raises
// TException with it.
[[noreturn]] void ThrowError(const char* format, ...) __attribute__((format(printf, 1, 2)));
