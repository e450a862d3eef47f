// Message boxes and the handler wrapper.
#include "ui/error_box.h"

#include <QMessageBox>

namespace veskor {
namespace {

std::function<void(bool, const QString&)>& Seam() {
  static std::function<void(bool, const QString&)> seam;
  return seam;
}

}  // namespace

QString ErrorBoxText(const QString& message) {
  if (!message.isEmpty() && message.back() > QChar('.')) return message + QChar('.');
  return message;
}

void ShowErrorBox(QWidget* parent, const QString& message) {
  const QString text = ErrorBoxText(message);
  if (Seam()) return Seam()(true, text);
  QMessageBox box(QMessageBox::Critical, kApplicationTitle, text, QMessageBox::Ok, parent);
  box.exec();
}

void ShowMessageBox(QWidget* parent, const QString& text) {
  if (Seam()) return Seam()(false, text);
  QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok, parent);
  box.exec();
}

void Guarded(QWidget* parent, const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    ShowErrorBox(parent, QString::fromUtf8(e.what()));
  }
}

void SetMessageBoxSeamForTesting(std::function<void(bool, const QString&)> seam) {
  Seam() = std::move(seam);
}

}  // namespace veskor
