#include "console/common/LoginSession.h"

#include "platform/runtime/Exceptions.h"

std::string CheckLoginInput(const TDbSettings& s) {
  if (s.Uid.empty() || s.Pwd.empty()) return "用户名或密码不能为空！";
  if (s.Server.empty() || s.AccDB.empty() || s.CharDB.empty() || s.LogDB.empty())
    return "数据库地址或数据库名不能为空！";
  if (s.Port.empty()) return "数据库的端口号或字符集不能为空！";
  // Refused before anything is saved or connected: the port goes into DB.ini as typed.
  if (!ParsePort(s.Port)) return "数据库的端口号必须是1到65535之间的数字！";
  return {};
}

TLoginSession::TLoginSession(TLoginConnectionFactory factory) {
  for (int i = 0; i < 3; ++i) FCons[static_cast<size_t>(i)] = factory(i);
}

bool TLoginSession::Connect(const TDbSettings& settings, TLoginSink& sink) {
  static constexpr const char* kWords[3] = {"帐号", "角色", "日志"};
  const std::string* databases[3] = {&settings.AccDB, &settings.CharDB, &settings.LogDB};
  FConnected = false;
  for (int i = 0; i < 3; ++i) {
    const std::string word = kWords[i];
    TConnectTarget target;
    target.Server = settings.Server;
    target.Port = ParsePort(settings.Port).value_or(0);
    target.Uid = settings.Uid;
    target.Pwd = settings.Pwd;
    target.Database = *databases[i];
    if (settings.CharsetIndex != 0) target.Charset = CharsetItemText(settings.CharsetIndex);
    TLoginConnection& con = *FCons[static_cast<size_t>(i)];
    sink.Status("正在尝试连接" + word + "数据库,请稍候...1");
    sink.ProcessMessages();
    con.Close();
    sink.ProcessMessages();
    try {
      con.Open(target);
    } catch (...) {
      sink.Status(word + "数据库连接失败，请检查配置!");
      sink.Error(word + "连接数据库失败，请检查配置!");
      return false;
    }
    sink.Status(word + "数据库连接成功...");
  }
  sink.Status("所有数据库均可成功连接...");
  FConnected = true;
  return true;
}
