// The detail pane: the header of where and under which key, the string wrapped, and the bytes
// around it, read again through the run's file checks every time a string is shown.
#include "ui/results/string_detail_pane.h"

#include <QFont>
#include <QLabel>
#include <QList>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "engine/results/string_bytes.h"
#include "engine/search/scan_input.h"
#include "ui/qt_text.h"
#include "ui/results/results_window.h"
#include "ui/run_texts.h"

namespace veskor {
namespace {

const QColor kMarkedBytes(255, 221, 120);
const QColor kEscapeText(0, 100, 200);
// Lines of bytes shown above the string's first line.
constexpr int kLinesAbove = 3;
constexpr const char* kNoStringText = "Select a string to see it whole, with the bytes around it.";
constexpr const char* kFixedFontFamily = "DejaVu Sans Mono";
constexpr int kFixedFontPixelSize = 11;

// "Key 90 (0x5A)", of an ANY row's pair "XOR8ROL key 858 (0x35A)", or "NONE" alone.
QString KeyWords(const RunSearch& search, int key) {
  if (!search.any) return QStringLiteral("Key ") + ListedKeyText(search, key);
  const TAlgorithm& algorithm = KeyAlgorithm(search, key);
  if (algorithm.Unkeyed()) return From1251(algorithm.Name);
  return From1251(algorithm.Name) + QStringLiteral(" key ") + ListedKeyText(search, key);
}

QString CharactersText(uint64_t count) {
  return count == 1 ? QStringLiteral("1 character")
                    : GroupedNumber(static_cast<int64_t>(count)) + QStringLiteral(" characters");
}

// A byte that shows as nothing or as a box: a control character, DEL, and Windows-1251's
// unassigned 0x98 and soft hyphen.
bool Invisible(uint8_t byte) { return byte < 0x20 || byte == 0x7F || byte == 0x98 || byte == 0xAD; }

// The escape that shows such a byte: "\t", "\n", "\r" or "\x1B".
QString Escape(uint8_t byte) {
  switch (byte) {
    case '\t':
      return QStringLiteral("\\t");
    case '\n':
      return QStringLiteral("\\n");
    case '\r':
      return QStringLiteral("\\r");
    default:
      return QStringLiteral("\\x") + QString::number(byte, 16).toUpper().rightJustified(2, u'0');
  }
}

// Writes a string's text into `edit`, each invisible byte as its escape in a colour of its own:
// few fonts draw the control pictures, and a tab drawn as blank space would hide it.
void ShowText(QPlainTextEdit* edit, std::string_view cp1251, bool cut) {
  edit->clear();
  QTextCursor cursor(edit->document());
  cursor.beginEditBlock();
  const QTextCharFormat plain;
  QTextCharFormat escape;
  escape.setForeground(kEscapeText);
  size_t from = 0;
  for (size_t i = 0; i <= cp1251.size(); ++i) {
    if (i < cp1251.size() && !Invisible(static_cast<uint8_t>(cp1251[i]))) continue;
    if (i > from) cursor.insertText(From1251(cp1251.substr(from, i - from)), plain);
    if (i < cp1251.size()) cursor.insertText(Escape(static_cast<uint8_t>(cp1251[i])), escape);
    from = i + 1;
  }
  if (cut) cursor.insertText(QString(QChar(0x2026)), plain);
  cursor.endEditBlock();
  edit->moveCursor(QTextCursor::Start);
}

QPlainTextEdit* ReadOnlyText(QWidget* parent, const char* name) {
  auto* edit = new QPlainTextEdit(parent);
  edit->setObjectName(name);
  edit->setReadOnly(true);
  edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  edit->setTabChangesFocus(true);  // the pane is a stop on the window's way round, not a trap
  return edit;
}

}  // namespace

StringDetailPane::StringDetailPane(QWidget* parent) : QWidget(parent) {
  setObjectName("detailPane");
  lbDetail_ = new QLabel(this);
  lbDetail_->setObjectName("lbDetail");
  lbDetail_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // A long header or message wraps at the pane's edge rather than widening the window.
  lbDetail_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  lbDetail_->setWordWrap(true);

  edDetailText_ = ReadOnlyText(this, "edDetailText");
  // A URL has no spaces to break at.
  edDetailText_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  edDetailText_->setLineWrapMode(QPlainTextEdit::WidgetWidth);

  edDetailBytes_ = ReadOnlyText(this, "edDetailBytes");
  edDetailBytes_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont fixed(kFixedFontFamily);
  fixed.setPixelSize(kFixedFontPixelSize);
  fixed.setStyleHint(QFont::Monospace);
  fixed.setFixedPitch(true);
  edDetailBytes_->setFont(fixed);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->addWidget(lbDetail_);
  column->addWidget(edDetailText_, 1);
  column->addWidget(edDetailBytes_, 2);
  Clear();
}

void StringDetailPane::Clear() { ShowMessage(QString::fromLatin1(kNoStringText)); }

void StringDetailPane::ShowMessage(const QString& message) {
  lbDetail_->setText(message);
  lbDetail_->setToolTip(QString());
  edDetailText_->clear();
  edDetailBytes_->setExtraSelections({});
  edDetailBytes_->clear();
}

void StringDetailPane::ShowString(const RowResult& result, int key, uint64_t position,
                                  uint64_t length) {
  const RunSearch& search = *result.search;
  // An ANY row's pair is read under its own algorithm and key.
  StringBytes bytes(PairSearch(search, key), PairKeyOf(search, key));
  switch (bytes.Open()) {
    case StringBytes::Status::kReady:
      break;
    case StringBytes::Status::kChanged:
      return ShowMessage(FileChangedText(bytes.change()));
    case StringBytes::Status::kCannotRead:
      return ShowMessage(QString::fromLatin1(kCannotReadFileMessage));
  }
  std::string text;
  std::vector<ByteLine> lines;
  try {
    text = bytes.Text(position, length, kShownCharacters);
    lines = bytes.Lines(position, length);
  } catch (const InputChangedError& e) {
    return ShowMessage(FileChangedText(e.change()));
  } catch (const InputReadError&) {
    // The file shrank under the mapping: it is no longer the file the run read.
    return ShowMessage(FileChangedText(ChangeAfterFault(search.input, search.stamp)));
  }

  const bool wide = KeyAlgorithm(search, key).Width == 2;
  QString header = QStringLiteral("%1, position 0x%2 (%3), %4")
                       .arg(KeyWords(search, key), QString::number(position, 16).toUpper(),
                            QString::number(position), CharactersText(length));
  if (wide) {
    header += QStringLiteral(" in %1 bytes").arg(GroupedNumber(static_cast<int64_t>(2 * length)));
  }
  if (text.size() < length) {
    header += QStringLiteral(", the first %1 shown")
                  .arg(GroupedNumber(static_cast<int64_t>(text.size())));
  }
  lbDetail_->setText(header);
  lbDetail_->setToolTip(header);
  ShowText(edDetailText_, text, text.size() < length);

  // The lines, then the string's bytes marked by their places in the whole text.
  QString view;
  QList<QTextEdit::ExtraSelection> marks;
  std::vector<std::pair<int, int>> spans;
  int first_marked_line = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) view += QLatin1Char('\n');
    const int text_start = static_cast<int>(view.size());
    view += From1251(lines[i].text);
    for (const auto& [column, columns] : lines[i].marks) {
      spans.emplace_back(text_start + column, columns);
      if (first_marked_line < 0) first_marked_line = static_cast<int>(i);
    }
  }
  edDetailBytes_->setPlainText(view);
  QTextCharFormat marked;
  marked.setBackground(kMarkedBytes);
  for (const auto& [start, count] : spans) {
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(edDetailBytes_->document());
    mark.cursor.setPosition(start);
    mark.cursor.setPosition(start + count, QTextCursor::KeepAnchor);
    mark.format = marked;
    marks << mark;
  }
  edDetailBytes_->setExtraSelections(marks);
  // The string's first line near the top, a few lines of what precedes it above: whatever the
  // pane's height, as the lines do not wrap.
  if (first_marked_line >= 0) {
    edDetailBytes_->setTextCursor(
        QTextCursor(edDetailBytes_->document()->findBlockByNumber(first_marked_line)));
    edDetailBytes_->verticalScrollBar()->setValue(std::max(0, first_marked_line - kLinesAbove));
  }
}

}  // namespace veskor
