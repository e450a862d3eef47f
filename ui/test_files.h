// Files as the window's tests read them back, and the controls they find by name.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QWidget>
#include <QtGlobal>

namespace veskor {

// The file's bytes, or "<missing>" when it cannot be read.
inline QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The control named `name` under `parent`; a test that names a control the window lacks stops.
template <typename T>
T* FindControl(QWidget* parent, const char* name) {
  T* widget = parent->findChild<T*>(name);
  if (widget == nullptr) qFatal("no control named %s", name);
  return widget;
}

}  // namespace veskor
