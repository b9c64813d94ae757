#include "platform/runtime/Format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/runtime/Exceptions.h"

namespace {

[[noreturn]] void BadFormat(std::string_view fmt) {
  throw EConvertError("Format '" + std::string(fmt) + "' invalid or incompatible with argument");
}

struct Directive {
  bool left = false;
  int width = -1;
  int precision = -1;
  char type = 0;
};

void Pad(std::string& out, const std::string& body, const Directive& directive) {
  if (directive.width > 0 && static_cast<int>(body.size()) < directive.width) {
    std::string fill(static_cast<size_t>(directive.width) - body.size(), ' ');
    if (directive.left)
      out += body + fill;
    else
      out += fill + body;
  } else {
    out += body;
  }
}

std::string FloatText(double v, char type, int precision) {
  if (precision < 0) precision = (type == 'g') ? 15 : 2;
  if (precision > 50) precision = 50;
  char buf[128];
  std::to_chars_result r;
  if (type == 'e')
    r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, precision);
  else if (type == 'g')
    r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, precision);
  else
    r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, precision);
  if (r.ec != std::errc()) return "NAN";
  return std::string(buf, r.ptr);
}

std::string Thousands(const std::string& fixed) {
  size_t start = (!fixed.empty() && fixed[0] == '-') ? 1 : 0;
  size_t dot = fixed.find('.');
  size_t intEnd = dot == std::string::npos ? fixed.size() : dot;
  std::string out = fixed.substr(0, start);
  for (size_t i = start; i < intEnd; ++i) {
    out += fixed[i];
    size_t left = intEnd - i - 1;
    if (left > 0 && left % 3 == 0) out += ',';
  }
  out += fixed.substr(intEnd);
  return out;
}

std::string FormatOne(std::string_view fmt, const Directive& directive, const FormatArg& arg) {
  using K = FormatArg::Kind;
  switch (directive.type) {
    case 'd': {
      std::string s;
      if (arg.kind() == K::Int)
        s = IntToStr(arg.asInt());
      else if (arg.kind() == K::UInt)
        s = UIntToStr(arg.asUInt());
      else
        BadFormat(fmt);
      if (directive.precision > 0) {
        bool neg = !s.empty() && s[0] == '-';
        std::string digits = neg ? s.substr(1) : s;
        if (static_cast<int>(digits.size()) < directive.precision)
          digits.insert(0, static_cast<size_t>(directive.precision) - digits.size(), '0');
        s = (neg ? "-" : "") + digits;
      }
      return s;
    }
    case 'u':
      if (arg.kind() == K::UInt) return UIntToStr(arg.asUInt());
      if (arg.kind() == K::Int) return UIntToStr(static_cast<uint64_t>(arg.asInt()));
      BadFormat(fmt);
    case 'x': {
      uint64_t v;
      if (arg.kind() == K::UInt)
        v = arg.asUInt();
      else if (arg.kind() == K::Int)
        v = static_cast<uint64_t>(arg.asInt());
      else
        BadFormat(fmt);
      char buf[32];
      auto r = std::to_chars(buf, buf + sizeof buf, v, 16);
      std::string s(buf, r.ptr);
      for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (directive.precision > 0 && static_cast<int>(s.size()) < directive.precision)
        s.insert(0, static_cast<size_t>(directive.precision) - s.size(), '0');
      return s;
    }
    case 'f':
    case 'e':
    case 'g':
    case 'n': {
      double v;
      if (arg.kind() == K::Float)
        v = arg.asFloat();
      else if (arg.kind() == K::Int)
        v = static_cast<double>(arg.asInt());
      else if (arg.kind() == K::UInt)
        v = static_cast<double>(arg.asUInt());
      else
        BadFormat(fmt);
      if (directive.type == 'n') return Thousands(FloatText(v, 'f', directive.precision));
      return FloatText(v, directive.type, directive.precision);
    }
    case 's': {
      if (arg.kind() != K::Text) BadFormat(fmt);
      std::string s(arg.asText());
      if (directive.precision >= 0 && static_cast<size_t>(directive.precision) < s.size())
        s.resize(static_cast<size_t>(directive.precision));
      return s;
    }
    case 'c': {
      if (arg.kind() == K::Text) return std::string(arg.asText().substr(0, 1));
      if (arg.kind() == K::Int || arg.kind() == K::UInt)
        return std::string(1, static_cast<char>(arg.asInt()));
      BadFormat(fmt);
    }
    default:
      BadFormat(fmt);
  }
}

}  // namespace

std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args) {
  std::vector<const FormatArg*> list;
  list.reserve(args.size());
  for (const auto& a : args) list.push_back(&a);

  std::string out;
  out.reserve(fmt.size() + 16);
  size_t next = 0;
  size_t i = 0;
  while (i < fmt.size()) {
    char c = fmt[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    ++i;
    if (i >= fmt.size()) BadFormat(fmt);
    if (fmt[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    Directive directive;
    // Optional "index:".
    size_t j = i;
    int number = -1;
    while (j < fmt.size() && fmt[j] >= '0' && fmt[j] <= '9') {
      number = (number < 0 ? 0 : number) * 10 + (fmt[j] - '0');
      if (number > 100000) BadFormat(fmt);
      ++j;
    }
    if (number >= 0 && j < fmt.size() && fmt[j] == ':') {
      next = static_cast<size_t>(number);
      i = j + 1;
    }
    if (i < fmt.size() && fmt[i] == '-') {
      directive.left = true;
      ++i;
    }
    auto readNumber = [&](int& target) {
      if (i < fmt.size() && fmt[i] == '*') {
        if (next >= list.size() || list[next]->kind() != FormatArg::Kind::Int) BadFormat(fmt);
        target = static_cast<int>(list[next++]->asInt());
        ++i;
        return;
      }
      while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
        target = (target < 0 ? 0 : target) * 10 + (fmt[i] - '0');
        if (target > 100000) BadFormat(fmt);
        ++i;
      }
    };
    readNumber(directive.width);
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      directive.precision = 0;
      readNumber(directive.precision);
    }
    if (i >= fmt.size()) BadFormat(fmt);
    directive.type = static_cast<char>(std::tolower(static_cast<unsigned char>(fmt[i])));
    ++i;
    if (next >= list.size()) BadFormat(fmt);
    Pad(out, FormatOne(fmt, directive, *list[next++]), directive);
  }
  return out;
}

std::string IntToStr(int64_t value) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

std::string UIntToStr(uint64_t value) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}
