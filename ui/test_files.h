// Files as the window's tests read them back, and the controls they find by name.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>
#include <QWidget>
#include <QtGlobal>

namespace veskor {

// The file's bytes, or "<missing>" when it cannot be read.
inline QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Writes `bytes` over the start of the file at `path` in place (its inode, and so its mappings,
// stay) and puts its modification time back: what `cat other > file; touch -r ref file`, `cp -p`,
// `rsync -t` and `tar x` leave. It first waits until the file system's clock has passed the
// file's change time, so that the write surely gives it another one. False when it could not.
inline bool RewriteKeepingTime(const QString& path, const QByteArray& bytes) {
  const QByteArray name = QFile::encodeName(path);
  struct stat before {};
  if (::stat(name.constData(), &before) != 0) return false;
  const auto clock_past_change = [&] {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now.tv_sec > before.st_ctim.tv_sec ||
           (now.tv_sec == before.st_ctim.tv_sec && now.tv_nsec > before.st_ctim.tv_nsec);
  };
  if (!QTest::qWaitFor(clock_past_change, 60000)) return false;
  const int fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = ::pwrite(fd, bytes.constData(), static_cast<size_t>(bytes.size()), 0) ==
                       static_cast<ssize_t>(bytes.size());
  ::close(fd);
  const timespec times[2] = {before.st_atim, before.st_mtim};
  return written && ::utimensat(AT_FDCWD, name.constData(), times, 0) == 0;
}

// The control named `name` under `parent`; a test that names a control the window lacks stops.
template <typename T>
T* FindControl(QWidget* parent, const char* name) {
  T* widget = parent->findChild<T*>(name);
  if (widget == nullptr) qFatal("no control named %s", name);
  return widget;
}

}  // namespace veskor
