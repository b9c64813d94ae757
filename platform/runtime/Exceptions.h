// The exception hierarchy every layer raises. Messages are ANSI text (the process code page).
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message = {}) : FMessage(std::move(message)) {}
  ~Exception() override = default;

  const std::string& Message() const noexcept { return FMessage; }
  void SetMessage(std::string message) { FMessage = std::move(message); }
  // The message from its first line with text on: a server's error reads CR LF and the server's
  // text (no client text stands before it), and a reader of one line must not see it empty.
  const char* what() const noexcept override;

 private:
  std::string FMessage;
};

// Silent exception: the application's error report swallows it.
class EAbort : public Exception {
 public:
  using Exception::Exception;
};

class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};

class EOutOfMemory : public Exception {
 public:
  using Exception::Exception;
};

// The system has none of a resource left (timers, handles).
class EOutOfResources : public EOutOfMemory {
 public:
  using EOutOfMemory::EOutOfMemory;
};

class ERangeError : public Exception {
 public:
  using Exception::Exception;
};

class EListError : public Exception {
 public:
  using Exception::Exception;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// An operating-system call failed; ErrorCode is the errno value.
class EOSError : public Exception {
 public:
  EOSError(int errorCode, std::string message) : Exception(std::move(message)), ErrorCode(errorCode) {}
  int ErrorCode;
};

// An internal consistency check failed. The message names the source file and line.
class EAssertionFailed : public Exception {
 public:
  EAssertionFailed(std::string message, const char* file, int line);
  const std::string& File() const noexcept { return FFile; }
  int Line() const noexcept { return FLine; }

 private:
  std::string FFile;
  int FLine;
};

[[noreturn]] void RaiseAssertion(const char* file, int line, const char* condition,
                                 const std::string& detail);
// Without a detail: a check that passes then costs its caller no string of its own.
[[noreturn, gnu::cold]] void RaiseAssertion(const char* file, int line, const char* condition);

// Always-on assertion: never compiled out, never aborts; throws EAssertionFailed naming file and line.
#define DA_ASSERT(cond)                                       \
  do {                                                        \
    if (!(cond)) ::RaiseAssertion(__FILE__, __LINE__, #cond); \
  } while (0)

#define DA_ASSERT_MSG(cond, detail)                                     \
  do {                                                                  \
    if (!(cond)) ::RaiseAssertion(__FILE__, __LINE__, #cond, (detail)); \
  } while (0)
