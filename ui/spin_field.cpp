// The spin field: range-checked value, Enter to take typed text, steps from the buttons and keys.
#include "ui/spin_field.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QStyleOption>
#include <QStylePainter>
#include <cstdint>
#include <optional>

#include "text/integer_syntax.h"

namespace veskor {

SpinButton::SpinButton(bool up, QWidget* parent) : QAbstractButton(parent), up_(up) {
  setFocusPolicy(Qt::NoFocus);
  setAutoRepeat(true);
  setCursor(Qt::ArrowCursor);
}

void SpinButton::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  option.initFrom(this);
  option.state |= isDown() ? QStyle::State_Sunken : QStyle::State_Raised;
  painter.drawPrimitive(QStyle::PE_PanelButtonBevel, option);
  option.rect = rect().adjusted(3, 1, -3, -1);
  painter.drawPrimitive(up_ ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, option);
}

SpinField::SpinField(int minimum, int maximum, int value, QWidget* parent)
    : QLineEdit(parent),
      minimum_(minimum),
      maximum_(maximum),
      value_(value),
      up_(new SpinButton(true, this)),
      down_(new SpinButton(false, this)) {
  up_->setObjectName("SpinUp");
  down_->setObjectName("SpinDown");
  setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  setTextMargins(0, 0, kButtonWidth, 0);
  connect(up_, &QAbstractButton::clicked, this, [this] { StepBy(1); });
  connect(down_, &QAbstractButton::clicked, this, [this] { StepBy(-1); });
  ShowValue();
}

bool SpinField::SetValue(int value) {
  if (value < minimum_ || value > maximum_) {
    ShowValue();
    return false;
  }
  const bool changed = value != value_;
  value_ = value;
  ShowValue();
  if (changed) emit ValueChanged(value_);
  return true;
}

void SpinField::UserSets(int value) {
  if (value < minimum_ || value > maximum_) {
    ShowValue();
    return;
  }
  emit Edited(value);
  SetValue(value);
}

void SpinField::Commit() {
  const std::optional<int32_t> typed = ParseInteger(text().toStdString());
  if (!typed) {
    ShowValue();
    return;
  }
  UserSets(*typed);
}

void SpinField::StepBy(int delta) {
  // In 64 bits: a step beyond the int range is refused like any other value outside the range.
  const int64_t stepped = int64_t{value_} + delta;
  if (stepped < minimum_ || stepped > maximum_) {
    ShowValue();
    return;
  }
  UserSets(static_cast<int>(stepped));
}

void SpinField::ShowValue() { setText(QString::number(value_)); }

void SpinField::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up:
      StepBy(1);
      event->accept();
      return;
    case Qt::Key_Down:
      StepBy(-1);
      event->accept();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Commit();
      event->accept();
      return;
    default:
      QLineEdit::keyPressEvent(event);
  }
}

void SpinField::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  // The field's own context menu takes the focus for a moment; the typing goes on after it.
  if (event->reason() == Qt::PopupFocusReason) return;
  if (text() != QString::number(value_)) ShowValue();
}

void SpinField::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  QStyleOptionFrame option;
  initStyleOption(&option);
  const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
  const int inner = height() - 2 * frame;
  const int left = width() - frame - kButtonWidth;
  up_->setGeometry(left, frame, kButtonWidth, inner / 2);
  down_->setGeometry(left, frame + inner / 2, kButtonWidth, inner - inner / 2);
}

}  // namespace veskor
