// The one place where the program's texts become Qt strings and back.
// The core keeps every text as bytes: device texts are single-byte, and the
// system's names (paths, mount points, file names) are in the system's own
// encoding: UTF-8 on Linux, the ANSI code page on Windows. Qt's local 8-bit
// conversion is exactly that on both systems.
#pragma once

#include <QString>
#include <string>

namespace raid {

inline QString ToQt(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }

inline std::string FromQt(const QString& s) {
  const QByteArray b = s.toLocal8Bit();
  return std::string(b.constData(), static_cast<size_t>(b.size()));
}

}  // namespace raid
