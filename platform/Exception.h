#pragma once
// The one exception family of the program: every error carries the text that the operator sees.

#include <exception>
#include <string>
#include <utility>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// Command file could not be read ("Cannot open file %s").
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

// Command file could not be written ("Cannot create file %s").
class EFCreateError : public Exception {
public:
    using Exception::Exception;
};

// Settings file could not be written ("Unable to write to %s").
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};
