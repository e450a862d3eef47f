// The windows' layouts in QSettings under the program's names, and the cascade.
#include "ui/results/window_memory.h"

#include <QCoreApplication>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QWidget>
#include <memory>

namespace veskor {
namespace {

constexpr int kCascadeStep = 28;

// The program names itself but no organisation: its own name stands for both.
std::unique_ptr<QSettings> Settings() {
  const QString application = QCoreApplication::applicationName();
  const QString organization = QCoreApplication::organizationName();
  return std::make_unique<QSettings>(organization.isEmpty() ? application : organization,
                                     application);
}

QString Key(const QWidget* window, const QString& entry) {
  return window->objectName() + QLatin1Char('/') + entry;
}

}  // namespace

bool RestoreWindowLayout(QWidget* window) {
  const std::unique_ptr<QSettings> settings = Settings();
  for (QSplitter* splitter : window->findChildren<QSplitter*>()) {
    if (splitter->objectName().isEmpty()) continue;
    const QByteArray state = settings->value(Key(window, splitter->objectName())).toByteArray();
    if (!state.isEmpty()) splitter->restoreState(state);
  }
  const QByteArray geometry =
      settings->value(Key(window, QStringLiteral("geometry"))).toByteArray();
  return !geometry.isEmpty() && window->restoreGeometry(geometry);
}

void SaveWindowLayout(const QWidget* window) {
  const std::unique_ptr<QSettings> settings = Settings();
  settings->setValue(Key(window, QStringLiteral("geometry")), window->saveGeometry());
  for (const QSplitter* splitter : window->findChildren<QSplitter*>()) {
    if (splitter->objectName().isEmpty()) continue;
    settings->setValue(Key(window, splitter->objectName()), splitter->saveState());
  }
}

void PlaceCascaded(QWidget* window, const QWidget* last) {
  QRect frame = window->frameGeometry();
  frame.moveTopLeft(last->frameGeometry().topLeft() + QPoint(kCascadeStep, kCascadeStep));
  if (const QScreen* screen = last->screen()) {
    const QRect available = screen->availableGeometry();
    if (frame.right() > available.right()) frame.moveLeft(available.left());
    if (frame.bottom() > available.bottom()) frame.moveTop(available.top());
  }
  window->move(frame.topLeft());
}

}  // namespace veskor
