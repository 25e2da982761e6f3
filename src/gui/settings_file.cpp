#include "gui/settings_file.h"

#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "support/text_trim.h"

namespace tly {

namespace {

constexpr const char* kOutDirKey = "OutDir";  // top-level keys live in [General]

}  // namespace

std::string IniFileNameFor(std::string_view exe_path) {
  const size_t slash = exe_path.rfind('/');
  const size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
  const size_t dot = exe_path.rfind('.');
  std::string result(exe_path);
  if (dot != std::string_view::npos && dot >= name_start) result.resize(dot);
  return result + ".ini";
}

std::string UserSettingsFileName() {
  // QSettings' user scope would keep its first answer for the life of the
  // process; this reads the environment every time, so the tests can move it.
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  return (folder + QStringLiteral("/tly-generator.ini")).toStdString();
}

std::string SettingsFileName() {
  return AppDirWritable() ? IniFileNameFor(ExecutablePath()) : UserSettingsFileName();
}

std::string ReadOutDirSetting(const std::string& ini_file_name) {
  const QSettings settings(QString::fromStdString(ini_file_name), QSettings::IniFormat);
  const QVariant value = settings.value(kOutDirKey);
  // An unquoted value with commas comes back as a list; it was one path.
  const QString text = value.typeId() == QMetaType::QStringList
                           ? value.toStringList().join(QLatin1Char(','))
                           : value.toString();
  return std::string(TrimBlanksAndControls(text.toStdString()));
}

bool WriteOutDirSetting(const std::string& ini_file_name, const std::string& out_dir) {
  QSettings settings(QString::fromStdString(ini_file_name), QSettings::IniFormat);
  settings.setValue(kOutDirKey, QString::fromStdString(out_dir));
  settings.sync();
  return settings.status() == QSettings::NoError;
}

}  // namespace tly
