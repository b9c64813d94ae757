#include "console/tools/GameServerIni.h"

#include <QDir>
#include <QFileInfo>

#include "platform/runtime/IniFile.h"
#include "platform/widgets/FieldText.h"

const std::vector<TServerIniKey>& ServerIniKeys() {
  static const std::vector<TServerIniKey> keys = [] {
    std::vector<TServerIniKey> k = {
        {"game", "DisplayName", "服务器名"},   {"game", "maxUser", "最大用户"},
        {"game", "maxRegionUser", "最大连接"}, {"game", "listType", "显示类型"},
        {"game", "allow", "允许IP"},
    };
    auto add = [&k](const char* section, std::initializer_list<const char*> names) {
      for (const char* name : names) k.push_back({section, name, name});
    };
    const auto listen = {"ListenIP", "ListenPort", "capacity", "SessionCnt"};
    const auto connectDb = {"BindIP",   "BindPort", "ConnectIP", "ConnectPort",
                            "database", "username", "password"};
    add("listenClient", listen);
    add("listenRegion", {"ListenIP", "ListenPort", "capacity", "SessionCnt", "allow"});
    add("listenGMServer", listen);
    add("connectDatabase", connectDb);
    add("connectLogDatabase", connectDb);
    add("connectLogin", {"BindIP", "BindPort", "ConnectIP", "ConnectPort"});
    return k;
  }();
  return keys;
}

QString ZoneDirectory(const QString& typed) {
  QString dir = typed;
  dir.replace(QLatin1Char('\\'), QLatin1Char('/'));
  if (!dir.isEmpty() && !dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
  return dir;
}

QString FindPathNoCase(const QString& directory, const QString& relative) {
  QString path = directory.isEmpty() ? QStringLiteral(".") : directory;
  for (const QString& part : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    const QDir dir(path);
    if (!dir.exists()) return {};
    // The exact name first: it is the usual case and needs no listing.
    if (QFileInfo::exists(dir.filePath(part))) {
      path = dir.filePath(part);
      continue;
    }
    QString found;
    for (const QString& entry :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
      if (entry.compare(part, Qt::CaseInsensitive) == 0) {
        found = entry;
        break;
      }
    if (found.isEmpty()) return {};
    path = dir.filePath(found);
  }
  return path;
}

bool IsZoneDirectory(const QString& directory) {
  for (const char* name : {"login", "world"}) {
    const QString path = FindPathNoCase(directory, QString::fromLatin1(name));
    if (!path.isEmpty() && QFileInfo(path).isDir()) return true;
  }
  return false;
}

QString ServerIniPath(const QString& directory) {
  const QString path = FindPathNoCase(directory, QStringLiteral("world/gameworld_server.ini"));
  return !path.isEmpty() && QFileInfo(path).isFile() ? path : QString();
}

TServerIniValues ReadServerIni(const QString& path) {
  TServerIniValues result;
  result.Values.resize(ServerIniKeys().size());
  if (path.isEmpty()) return result;
  try {
    const TIniFile ini(QFile::encodeName(path).toStdString());
    for (size_t i = 0; i < result.Values.size(); ++i) {
      const std::string value = ini.ReadString(ServerIniKeys()[i].Section, ServerIniKeys()[i].Key, "");
      result.Values[i] =
          ini.Utf8Text() ? QString::fromStdString(value) : DecodeFieldText(value, TFieldCharset::Gbk);
    }
  } catch (const EIniFileException& e) {
    result.Error = QString::fromStdString(e.Message());
  }
  return result;
}
