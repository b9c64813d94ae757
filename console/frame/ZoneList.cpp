#include "console/frame/ZoneList.h"

#include "platform/runtime/IniFile.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool HasBracket(std::string_view s) {
  return s.find_first_of("[]") != std::string_view::npos;
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

std::string CheckZoneInput(const TDbIni& ini, std::string_view name, const TDbSettings& s) {
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
  const std::pair<std::string_view, const char*> fields[] = {
      {name, "分区名"},           {s.Server, "服务器地址"},  {s.Port, "端口号"}, {s.AccDB, "帐号数据库名"},
      {s.CharDB, "角色数据库名"}, {s.LogDB, "日志数据库名"}, {s.Uid, "用户名"},  {s.Pwd, "用户密码"}};
  for (const auto& [value, field] : fields)
    if (std::string problem = ini.ValueProblem(value); !problem.empty()) return field + problem + "！";
  return {};
}

TZoneOutcome AddZone(const TDbIni& ini, std::string_view name, const TDbSettings& s) {
  if (std::string problem = CheckZoneInput(ini, name, s); !problem.empty()) return {false, problem};
  ini.SaveZone(name, s);
  return {true, "增加新的分区成功！"};
}

TZoneOutcome DeleteZone(const TDbIni& ini, std::string_view name) {
  const char* const kChoose = "请选择您要删除的分区！";
  if (name.empty()) return {false, kChoose};
  std::optional<std::string> section = ini.ZoneSection(name);
  if (!section || IsReserved(*section)) return {false, kChoose};
  ini.EraseSection(*section);
  return {true, "删除分区：" + std::string(name) + "成功！"};
}

int NextHintLeft(int left) noexcept {
  return left < 81 ? 225 : left - 2;
}
