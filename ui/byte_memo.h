// ByteMemo: a multi-line field that holds 8-bit Windows-1251 text of at most 255 bytes, with a
// 2-pixel sunken frame and a vertical scroll bar.
#pragma once

#include <QPlainTextEdit>
#include <string>
#include <string_view>

namespace veskor {

// The field's text for stored bytes: CR LF becomes a line break; a lone CR or LF, which a line
// break cannot stand for, shows as U+240D or U+240A so that it survives being read back.
QString ByteMemoText(std::string_view bytes);
// The stored bytes for the field's text ('\n' separates lines): a line break becomes CR LF,
// U+240D and U+240A become CR and LF, a character without an 8-bit form becomes '?'.
std::string ByteMemoBytes(const QString& text);

class ByteMemo : public QPlainTextEdit {
  Q_OBJECT
 public:
  static constexpr int kMaxLength = 255;  // bytes of the stored text; a line break is two

  explicit ByteMemo(QWidget* parent = nullptr);

  std::string Bytes() const;
  // Shows `bytes` whatever their length (the limit holds for what the user types or pastes).
  void SetBytes(std::string_view bytes);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;
  void inputMethodEvent(QInputMethodEvent* event) override;

 private:
  // How many bytes may still be inserted in place of the current selection.
  int Room() const;
};

// The longest start of `text` whose stored form takes at most `room` bytes; a surrogate pair is
// never split.
QString FitText(const QString& text, int room);

}  // namespace veskor
