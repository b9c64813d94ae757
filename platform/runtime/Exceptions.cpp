#include "platform/runtime/Exceptions.h"

#include <cstring>

EAssertionFailed::EAssertionFailed(std::string message, const char* file, int line)
    : Exception(std::move(message)), FFile(file ? file : ""), FLine(line) {}

void RaiseAssertion(const char* file, int line, const char* condition, const std::string& detail) {
  const char* base = file ? std::strrchr(file, '/') : nullptr;
  std::string name = base ? base + 1 : (file ? file : "?");
  std::string text = "Assertion failed: ";
  text += detail.empty() ? std::string(condition ? condition : "") : detail;
  text += " (" + name + ", line " + std::to_string(line) + ")";
  throw EAssertionFailed(text, name.c_str(), line);
}
