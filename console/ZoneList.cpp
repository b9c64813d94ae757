#include "console/ZoneList.h"

#include "platform/runtime/Charset.h"
#include "platform/runtime/IniFile.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A bracket as a character of its own (a GBK trail byte may be 0x5B or 0x5D).
bool HasBracket(std::string_view s) {
  const TCharsetKind cs = AnsiCharsetKind();
  const char* end = s.data() + s.size();
  for (size_t i = 0; i < s.size();) {
    if (s[i] == '[' || s[i] == ']') return true;
    i += MbCharLen(cs, s.data() + i, end);
  }
  return false;
}

bool IsReserved(std::string_view name) {
  return SameIniName(name, "DB") || SameIniName(name, "User");
}

}  // namespace

std::string CheckZoneName(std::string_view name) {
  if (name.empty()) return "请填写分区名！";
  if (IsReserved(name)) return "分区名不能是DB或User！";
  // The file reads a section name without its outer blanks, cut at its first ']', and a value
  // without one pair of enclosing quotes: such a name would come back as another.
  const bool quoted =
      name.size() >= 2 && (name.front() == '"' || name.front() == '\'') && name.back() == name.front();
  if (HasBracket(name) || HasLineBreak(name) || name.front() == ';' || IsBlank(name.front()) ||
      IsBlank(name.back()) || quoted)
    return "分区名不能含有方括号或换行，不能以分号开头，前后不能有空格或引号！";
  return {};
}

std::string CheckZoneInput(std::string_view name, const TDbSettings& s) {
  struct {
    const std::string* value;
    const char* message;
  } const required[] = {
      {&s.Server, "请填写分区服务器地址！"},  {&s.AccDB, "请填写帐号数据库名！"},
      {&s.CharDB, "请填写角色数据库名！"},    {&s.LogDB, "请填写日志数据库名！"},
      {&s.Uid, "请填写分区的数据库用户名！"}, {&s.Pwd, "请填写分区的数据库用户密码！"},
  };
  if (name.empty()) return "请填写分区名！";
  for (const auto& r : required)
    if (r.value->empty()) return r.message;
  if (s.Port.empty() || s.CharsetIndex < 0 || s.CharsetIndex >= kCharsetCount)
    return "端口号或字符集不能为空值！";
  if (std::string problem = CheckZoneName(name); !problem.empty()) return problem;
  // A line break would start a line of its own in the file: a key or a section of someone else's.
  for (const std::string* v : {&s.Server, &s.Port, &s.AccDB, &s.CharDB, &s.LogDB, &s.Uid, &s.Pwd})
    if (HasLineBreak(*v)) return "分区的设置不能含有换行！";
  return {};
}

TZoneOutcome AddZone(const TDbIni& ini, std::string_view name, const TDbSettings& s) {
  if (std::string problem = CheckZoneInput(name, s); !problem.empty()) return {false, problem};
  ini.SaveZone(name, s);
  return {true, "增加新的分区成功！"};
}

TZoneOutcome DeleteZone(const TDbIni& ini, std::string_view name) {
  const char* const kChoose = "请选择您要删除的分区！";
  if (name.empty()) return {false, kChoose};
  std::optional<std::string> section = ini.ZoneSection(name);
  if (!section || IsReserved(*section)) return {false, kChoose};
  ini.EraseSection(*section);
  return {true, "删除分区：" + AnsiToUtf8(name) + "成功！"};
}

int NextHintLeft(int left) noexcept {
  return left < 81 ? 225 : left - 2;
}
