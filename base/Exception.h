// Exception root of the library and the framework exceptions the layers share.
#pragma once

#include <exception>
#include <string>

namespace brv {

// Root of every exception the library raises; carries a message text.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message = {}) : message_(std::move(message)) {}
  ~Exception() override = default;

  // The message shown to the user.
  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }
  // Name of the exception class, as error reports show it.
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string message_;
};

// Declares an exception class `Name` derived from `Base`. BRV_DECLARE_EXCEPTION(Name, Base)
// takes Base's constructors; BRV_DECLARE_EXCEPTION(Name, Base, DefaultMessage) takes one
// message, DefaultMessage when none is given.
#define BRV_DECLARE_EXCEPTION(...)                                                        \
  BRV_EXCEPTION_PICK_(__VA_ARGS__, BRV_EXCEPTION_WITH_MESSAGE_, BRV_EXCEPTION_LIKE_BASE_) \
  (__VA_ARGS__)
#define BRV_EXCEPTION_PICK_(A, B, C, Which, ...) Which
#define BRV_EXCEPTION_LIKE_BASE_(Name, Base)                          \
  class Name : public Base {                                          \
   public:                                                            \
    using Base::Base;                                                 \
    const char* ClassName() const noexcept override { return #Name; } \
  }
#define BRV_EXCEPTION_WITH_MESSAGE_(Name, Base, DefaultMessage)                       \
  class Name : public Base {                                                          \
   public:                                                                            \
    explicit Name(std::string message = DefaultMessage) : Base(std::move(message)) {} \
    const char* ClassName() const noexcept override { return #Name; }                 \
  }

// A value could not be converted or an object could not be assigned to another.
BRV_DECLARE_EXCEPTION(EConvertError, Exception);
// A list was used with a bad index or an illegal duplicate.
BRV_DECLARE_EXCEPTION(EListError, Exception);
// An argument outside the range an operation accepts.
BRV_DECLARE_EXCEPTION(EArgumentException, Exception);
// A stream could not be read or written as asked.
BRV_DECLARE_EXCEPTION(EStreamError, Exception);
// A file could not be opened or created.
BRV_DECLARE_EXCEPTION(EFOpenError, EStreamError);

// Root of the transport, TLS and HTTP exceptions.
BRV_DECLARE_EXCEPTION(EIdException, Exception);
// Marks an expected end rather than a fault (a peer that closed gracefully).
BRV_DECLARE_EXCEPTION(EIdSilentException, EIdException);

// printf-style formatting into a std::string ("%s" takes a const char*).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace brv
