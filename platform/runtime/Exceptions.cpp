#include "platform/runtime/Exceptions.h"

#include <cstring>

const char* Exception::what() const noexcept {
  const size_t text = FMessage.find_first_not_of("\r\n");
  return FMessage.c_str() + (text == std::string::npos ? FMessage.size() : text);
}

EAssertionFailed::EAssertionFailed(std::string message, const char* file, int line)
    : Exception(std::move(message)), FFile(file ? file : ""), FLine(line) {}

void RaiseAssertion(const char* file, int line, const char* condition) {
  RaiseAssertion(file, line, condition, std::string());
}

void RaiseAssertion(const char* file, int line, const char* condition, const std::string& detail) {
  const char* base = file ? std::strrchr(file, '/') : nullptr;
  std::string name = base ? base + 1 : (file ? file : "?");
  std::string text = "Assertion failed: ";
  text += detail.empty() ? std::string(condition ? condition : "") : detail;
  text += " (" + name + ", line " + std::to_string(line) + ")";
  throw EAssertionFailed(text, name.c_str(), line);
}
