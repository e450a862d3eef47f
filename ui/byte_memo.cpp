// The 8-bit multi-line field: its text conversions and the 255-byte limit on what comes in.
#include "ui/byte_memo.h"

#include <QKeyEvent>
#include <QMimeData>

#include "ui/qt_text.h"

namespace veskor {
namespace {

constexpr char16_t kShownCr = 0x240D;  // SYMBOL FOR CARRIAGE RETURN
constexpr char16_t kShownLf = 0x240A;  // SYMBOL FOR LINE FEED

bool IsLineBreak(QChar c) {
  return c == u'\n' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator;
}

// Text from outside (the clipboard, a drop, an input method) with every kind of line end made
// '\n', the form the document turns into a line break.
QString UnifyLineEnds(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  return text;
}

}  // namespace

QString ByteMemoText(std::string_view bytes) {
  const QString text = From1251(bytes);
  QString shown;
  shown.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
      shown += u'\n';
      ++i;
    } else if (c == u'\r') {
      shown += QChar(kShownCr);
    } else if (c == u'\n') {
      shown += QChar(kShownLf);
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string ByteMemoBytes(const QString& text) {
  QString stored;
  stored.reserve(text.size() + 8);
  for (const QChar c : text) {
    if (IsLineBreak(c)) {
      stored += QStringLiteral("\r\n");
    } else if (c == QChar(kShownCr)) {
      stored += u'\r';
    } else if (c == QChar(kShownLf)) {
      stored += u'\n';
    } else {
      stored += c;
    }
  }
  return To1251(stored);
}

QString FitText(const QString& text, int room) {
  int used = 0;
  qsizetype end = 0;
  while (end < text.size()) {
    const QChar c = text[end];
    const bool pair =
        c.isHighSurrogate() && end + 1 < text.size() && text[end + 1].isLowSurrogate();
    const int cost = IsLineBreak(c) ? 2 : 1;
    if (used + cost > room) break;
    used += cost;
    end += pair ? 2 : 1;
  }
  return text.left(end);
}

ByteMemo::ByteMemo(QWidget* parent) : QPlainTextEdit(parent) {
  // WinPanel is the classic two-pixel sunken frame; the edit fills the box inside it.
  setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setTabChangesFocus(true);
  document()->setDocumentMargin(2);
}

// toRawText, not toPlainText: the latter turns a no-break space (byte 0xA0) into a space.
std::string ByteMemo::Bytes() const { return ByteMemoBytes(document()->toRawText()); }

void ByteMemo::SetBytes(std::string_view bytes) { setPlainText(ByteMemoText(bytes)); }

int ByteMemo::Room() const {
  const int length = static_cast<int>(Bytes().size());
  const int selected = static_cast<int>(ByteMemoBytes(textCursor().selectedText()).size());
  return kMaxLength - (length - selected);
}

void ByteMemo::keyPressEvent(QKeyEvent* event) {
  if (isReadOnly()) return QPlainTextEdit::keyPressEvent(event);
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Every Enter, with or without Shift, makes a paragraph break: the one line break the
    // stored form knows (CR LF).
    if (Room() >= 2) {
      QTextCursor cursor = textCursor();
      cursor.insertText(QStringLiteral("\n"));
      setTextCursor(cursor);
      ensureCursorVisible();
    }
    event->accept();
    return;
  }
  const QString typed = event->text();
  if (!typed.isEmpty() && typed.front().isPrint() &&
      static_cast<int>(ByteMemoBytes(typed).size()) > Room()) {
    event->accept();  // the character would pass the limit: refused
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

void ByteMemo::insertFromMimeData(const QMimeData* source) {
  if (isReadOnly() || !source->hasText()) return;
  // As much of the text as fits; the rest is dropped, as when typing.
  const QString text = FitText(UnifyLineEnds(source->text()), Room());
  if (!text.isEmpty()) {
    insertPlainText(text);
    ensureCursorVisible();
  }
}

void ByteMemo::inputMethodEvent(QInputMethodEvent* event) {
  const QString committed = event->commitString();
  if (!committed.isEmpty()) {
    const QString text = FitText(UnifyLineEnds(committed), Room());
    if (text != committed) {
      QInputMethodEvent fitted(event->preeditString(), event->attributes());
      fitted.setCommitString(text, event->replacementStart(), event->replacementLength());
      return QPlainTextEdit::inputMethodEvent(&fitted);
    }
  }
  QPlainTextEdit::inputMethodEvent(event);
}

}  // namespace veskor
