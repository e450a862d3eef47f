// The error box: every error that ends a handler is shown here, captioned "Veskor", with an
// error icon and one OK button. Tests replace the box by a recorder.
#pragma once

#include <QString>
#include <exception>
#include <functional>

class QWidget;

namespace veskor {

inline constexpr const char* kApplicationTitle = "Veskor";

// The error's message, with "." appended when its last character sorts after ".".
QString ErrorBoxText(const QString& message);

// Shows the error box (or hands the text to the test seam) and returns when it is closed.
void ShowErrorBox(QWidget* parent, const QString& message);

// A plain message box with the text and an OK button (the run's messages).
void ShowMessageBox(QWidget* parent, const QString& text);

// Runs a handler's body; an error that ends it is shown in the error box. Every handler of
// the window goes through here.
void Guarded(QWidget* parent, const std::function<void()>& body);

// Test seam: while set, boxes are not shown; the function receives (is_error, text).
void SetMessageBoxSeamForTesting(std::function<void(bool, const QString&)> seam);

}  // namespace veskor
