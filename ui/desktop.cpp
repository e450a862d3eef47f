// The open-file and save-file dialogs, the beep and the desktop opener, each behind its test seam.
#include "ui/desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QStringList>
#include <QUrl>

namespace veskor {
namespace {

std::function<QString(QWidget*, const QString&)>& ChooseSeam() {
  static std::function<QString(QWidget*, const QString&)> seam;
  return seam;
}

std::function<QString(QWidget*, const QString&)>& SaveSeam() {
  static std::function<QString(QWidget*, const QString&)> seam;
  return seam;
}

std::function<void()>& BeepSeam() {
  static std::function<void()> seam;
  return seam;
}

std::function<bool(const QString&)>& OpenSeam() {
  static std::function<bool(const QString&)> seam;
  return seam;
}

}  // namespace

QString ChooseExistingFile(QWidget* parent, const QString& folder) {
  if (ChooseSeam()) return ChooseSeam()(parent, folder);
  // The title is the dialog's own default.
  QFileDialog dialog(parent);
  if (!folder.isEmpty()) dialog.setDirectory(folder);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilter(kOpenFileFilter);
  dialog.setSizeGripEnabled(true);
  if (dialog.exec() != QDialog::Accepted) return QString();
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

QString ChooseFileToSave(QWidget* parent, const QString& suggested) {
  if (SaveSeam()) return SaveSeam()(parent, suggested);
  QFileDialog dialog(parent);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter(kOpenFileFilter);
  dialog.setSizeGripEnabled(true);
  if (!suggested.isEmpty()) dialog.selectFile(suggested);
  if (dialog.exec() != QDialog::Accepted) return QString();
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

void Beep() {
  if (BeepSeam()) return BeepSeam()();
  QApplication::beep();
}

bool OpenWithDesktop(const QString& path) {
  if (OpenSeam()) return OpenSeam()(path);
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void SetChooseFileSeamForTesting(std::function<QString(QWidget*, const QString&)> seam) {
  ChooseSeam() = std::move(seam);
}
void SetSaveFileSeamForTesting(std::function<QString(QWidget*, const QString&)> seam) {
  SaveSeam() = std::move(seam);
}
void SetBeepSeamForTesting(std::function<void()> seam) { BeepSeam() = std::move(seam); }
void SetOpenSeamForTesting(std::function<bool(const QString&)> seam) {
  OpenSeam() = std::move(seam);
}

}  // namespace veskor
