// The window's ties to the desktop: the open-file and save-file dialogs, the default beep and
// opening a file with its associated application. Tests replace each by a recorder.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace veskor {

// The filter of the open-file dialog: it matches every file.
inline constexpr const char* kOpenFileFilter = "All files (*)";

// Shows the open-file dialog for one existing file, opened in `folder` (the dialog's own default
// when empty); the chosen file's full path, or an empty text when the dialog was cancelled.
QString ChooseExistingFile(QWidget* parent, const QString& folder);

// Shows the save-file dialog, opened on `suggested` (a full path); the chosen file's full path,
// or an empty text when the dialog was cancelled. The dialog asks before replacing a file.
QString ChooseFileToSave(QWidget* parent, const QString& suggested);

// Plays the desktop's default sound without waiting.
void Beep();

// Opens the file with the application associated with its type; false when the desktop has no
// program to ask.
bool OpenWithDesktop(const QString& path);

// Test seams: while a seam is set, it runs instead of the desktop's own operation. An empty
// function restores the operation.
void SetChooseFileSeamForTesting(std::function<QString(QWidget*, const QString&)> seam);
void SetSaveFileSeamForTesting(std::function<QString(QWidget*, const QString&)> seam);
void SetBeepSeamForTesting(std::function<void()> seam);
void SetOpenSeamForTesting(std::function<bool(const QString&)> seam);

}  // namespace veskor
