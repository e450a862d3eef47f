// SpinField: a whole-number field with two spin buttons whose value changes only by a step or
// by Enter, and never to a number outside its range.
#pragma once

#include <QAbstractButton>
#include <QLineEdit>

namespace veskor {

// One of the two arrow buttons at the field's right end.
class SpinButton : public QAbstractButton {
  Q_OBJECT
 public:
  SpinButton(bool up, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool up_;
};

// The text is free while the user types: it becomes the value only when Enter is pressed, and
// only when it is a whole number (text/integer_syntax.h) inside the range; otherwise the field
// shows its value again. The buttons and the Up and Down keys step by 1 from the value (never
// from text still being typed). Leaving the field drops typed text that Enter did not take, so
// that the field never shows a number other than the one the preset keeps.
class SpinField : public QLineEdit {
  Q_OBJECT
 public:
  static constexpr int kButtonWidth = 15;

  SpinField(int minimum, int maximum, int value, QWidget* parent = nullptr);

  int Value() const { return value_; }
  int Minimum() const { return minimum_; }
  int Maximum() const { return maximum_; }

  // Takes `value` when it lies in the range and returns true; a value outside it is refused and
  // returns false. Either way the field shows its value afterwards, dropping any typed text.
  bool SetValue(int value);

  // What the Enter key does: takes the typed text as the value when it can.
  void Commit();
  // What a spin button or an arrow key does: value + delta, refused outside the range.
  void StepBy(int delta);

  QAbstractButton* UpButton() const { return up_; }
  QAbstractButton* DownButton() const { return down_; }

 signals:
  // The value changed, by the user or by the program.
  void ValueChanged(int value);
  // The user entered or stepped to `value`, which is in range; sent before the value is taken,
  // so ValueChanged follows only when `value` differs from Value().
  void Edited(int value);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void UserSets(int value);
  void ShowValue();

  int minimum_;
  int maximum_;
  int value_;
  SpinButton* up_;
  SpinButton* down_;
};

}  // namespace veskor
