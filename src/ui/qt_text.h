#pragma once
// Between the core's byte strings and Qt's texts: texts shown to people are UTF-8; paths are
// bytes, decoded and encoded as the file system's names.

#include <QFile>
#include <QIcon>
#include <QString>
#include <string>

namespace qv::ui {

inline QString Str(const std::string& utf8) { return QString::fromStdString(utf8); }
// The core's texts end their lines with carriage returns.
inline QString Lines(const std::string& utf8) {
    return QString::fromStdString(utf8).replace(QLatin1Char('\r'), QLatin1Char('\n'));
}
inline QString Path(const std::string& path) { return QFile::decodeName(path.c_str()); }
inline std::string PathBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }
// One of the application's pictures, by its name ("icn_run").
inline QIcon NamedIcon(const char* name) {
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name)));
}

}  // namespace qv::ui
