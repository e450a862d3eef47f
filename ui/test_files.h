// Files as the window's tests read them back.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace veskor {

// The file's bytes, or "<missing>" when it cannot be read.
inline QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

}  // namespace veskor
