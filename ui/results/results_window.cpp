// The Results window: the ranked keys on the left, the selected key's strings on the right with
// the filter, copy and save, and the message that replaces them when the file has changed.
#include "ui/results/results_window.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QStringList>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/regexp/regexp.h"
#include "engine/results/string_bytes.h"
#include "engine/run/log_file.h"
#include "engine/score/key_summary.h"
#include "engine/score/text_score.h"
#include "engine/search/scan_input.h"
#include "text/cp1251.h"
#include "ui/desktop.h"
#include "ui/error_box.h"
#include "ui/qt_text.h"
#include "ui/results/key_list_view.h"
#include "ui/results/key_match_pane.h"
#include "ui/results/key_rank_model.h"
#include "ui/results/string_detail_pane.h"
#include "ui/results/window_memory.h"
#include "ui/run_texts.h"

namespace veskor {
namespace {

constexpr int kRowHeight = 18;
constexpr QSize kInitialSize(1030, 680);
constexpr int kKeyListWidth = 490;
constexpr int kKeyColumnWidths[KeyRankModel::kColumnCount] = {70, 90, 60, 50, 70, 60, 140};
constexpr int kStringColumnWidths[StringListModel::kColumnCount] = {90, 80, 55, 50, 300};
// The string list over the detail pane.
constexpr int kStringListHeight = 300;
constexpr int kDetailHeight = 280;
const QColor kErrorText(192, 0, 0);

// The filter's words while the expression box is not checked, and while it is.
constexpr const char* kTextPlaceholder = "text the strings contain, in any case";
constexpr const char* kExpressionPlaceholder =
    "an expression the strings match; letter case counts";

// The lines as the desktop's text: Windows-1251 decoded as they come, each CR LF of the log a
// LF, so that a copy of millions of lines is built once.
class ClipboardText : public ByteSink {
 public:
  void Write(std::string_view bytes) override {
    for (const char c : bytes) {
      if (carriage_return_ && c != '\n') text_ += QLatin1Char('\r');
      carriage_return_ = c == '\r';
      if (!carriage_return_) text_ += QChar(Cp1251ToChar16(static_cast<uint8_t>(c)));
    }
  }
  QString Take() {
    if (carriage_return_) text_ += QLatin1Char('\r');
    carriage_return_ = false;
    return std::move(text_);
  }

 private:
  QString text_;
  bool carriage_return_ = false;  // held until the next byte says whether a LF follows
};

// "1 line", "1,234 lines".
QString LinesText(uint64_t lines) {
  return lines == 1 ? QStringLiteral("1 line")
                    : GroupedNumber(static_cast<int64_t>(lines)) + QStringLiteral(" lines");
}

// Keeps the strings whose text holds `needle` in any letter case (Windows-1251 case mapping).
StringListModel::Filter ContainsFilter(const std::string& needle) {
  std::string lowered = needle;
  for (char& c : lowered) c = static_cast<char>(ToLower1251(static_cast<uint8_t>(c)));
  return [lowered](std::string_view text) {
    return std::search(text.begin(), text.end(), lowered.begin(), lowered.end(),
                       [](char a, char b) {
                         return ToLower1251(static_cast<uint8_t>(a)) == static_cast<uint8_t>(b);
                       }) != text.end();
  };
}

// A table of one row per line, with grid lines off and compact rows.
void SetUpGrid(QTableView* grid, const int* widths, int columns) {
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setShowGrid(false);
  grid->setWordWrap(false);
  grid->setTextElideMode(Qt::ElideRight);
  grid->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  QHeaderView* vertical = grid->verticalHeader();
  vertical->hide();
  vertical->setMinimumSectionSize(kRowHeight);
  vertical->setSectionResizeMode(QHeaderView::Fixed);
  vertical->setDefaultSectionSize(kRowHeight);
  QHeaderView* header = grid->horizontalHeader();
  header->setSectionsMovable(false);
  header->setHighlightSections(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setStretchLastSection(true);
  for (int column = 0; column < columns; ++column) header->resizeSection(column, widths[column]);
}

// The key list's columns at their widths, the Algorithm column of an ANY row among them.
void SetUpKeyGrid(QTableView* grid, const KeyRankModel& keys) {
  int widths[KeyRankModel::kColumnCount];
  const int columns = keys.columnCount();
  for (int column = 0; column < columns; ++column) {
    widths[column] = kKeyColumnWidths[keys.ColumnAt(column)];
  }
  SetUpGrid(grid, widths, columns);
}

// The key list wide enough for its columns but the best string's.
int KeyListWidth(const KeyRankModel& keys) {
  return keys.columnCount() == KeyRankModel::kColumnCount
             ? kKeyListWidth + kKeyColumnWidths[KeyRankModel::kAlgorithmColumn]
             : kKeyListWidth;
}

// The strings' table: Ctrl+C copies the selected lines whole, not the current cell's text.
class StringGridView : public QTableView {
 public:
  StringGridView(std::function<void()> copy, QWidget* parent)
      : QTableView(parent), copy_(std::move(copy)) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->matches(QKeySequence::Copy)) {
      copy_();
      event->accept();
      return;
    }
    QTableView::keyPressEvent(event);
  }

 private:
  std::function<void()> copy_;
};

QString DecodeName(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

// "XOR8 over all keys", "XOR8 with key 90 (0x5A)", "NONE (the bytes as they are)", "ANY: every
// algorithm over all keys".
QString SearchText(const RowResult& result) {
  const QString algorithm = From1251(result.search->algorithm.Name);
  if (result.search->any) return algorithm + QStringLiteral(": every algorithm over all keys");
  if (result.Unkeyed()) return algorithm + QStringLiteral(" (the bytes as they are)");
  if (result.key) {
    return algorithm + QStringLiteral(" with key ") +
           ShownKeyText(result.search->algorithm, *result.key);
  }
  return algorithm + QStringLiteral(" over all keys");
}

// Where the strings the key's score came from start: its best strings, best first; a key
// without evidence, or proved below the first keys, has the one string that ranked it.
std::vector<uint64_t> ScorePositions(const KeySummary& key) {
  std::vector<uint64_t> positions;
  if (!key.Bounded() && !key.Best().empty()) {
    for (const BestString& best : key.Best()) positions.push_back(best.position);
  } else if (key.Count() > 0) {
    positions.push_back(key.Bounded() ? key.LongestPosition() : key.BestPosition());
  }
  return positions;
}

// The orders of the strings' list, as the buttons over it name them.
struct OrderButton {
  StringListModel::Order order;
  const char* name;
  const char* caption;
  const char* tip;
};
constexpr OrderButton kOrderButtons[] = {
    {StringListModel::Order::kBestFirst, "btnBestFirst", "Best first",
     "The strings the key's score came from first, best first and marked; then the others in "
     "the file's order"},
    {StringListModel::Order::kFileOrder, "btnFileOrder", "File order",
     "The strings in the order the file stores them, as the log lists them"},
    {StringListModel::Order::kLength, "btnByLength", "Longest first",
     "The longest strings first, once the file is read"},
    {StringListModel::Order::kScore, "btnByScore", "Best scored first",
     "The strings whose text reads most like text first, once the file is read"},
};

}  // namespace

QString RuleCopiedText(const RuleStrings& counted, int64_t selected) {
  const auto evidence = static_cast<int64_t>(counted.evidence);
  const int64_t left_out = selected - evidence;
  QString text =
      counted.written < counted.evidence
          ? QStringLiteral("A YARA rule of the first %1 of %2 copied")
                .arg(counted.written)
                .arg(left_out > 0 ? StringCountText(evidence) + QStringLiteral(" that are evidence")
                                  : GroupedNumber(selected) + QStringLiteral(" selected strings"))
          : QStringLiteral("A YARA rule of %1 copied")
                .arg(StringCountText(static_cast<int64_t>(counted.written)));
  if (left_out > 0) {
    text += QStringLiteral(
                "; %1 of the %2 selected left out as no evidence of hidden text: weak "
                "text, repeats, or bytes the file stores as plain text")
                .arg(GroupedNumber(left_out), GroupedNumber(selected));
  }
  return text;
}

QString FileChangedText(const StampChange& change) {
  QString what;
  if (change.gone) {
    what = QStringLiteral("no file with bytes has its name now");
  } else if (change.other_file) {
    what = QStringLiteral("another file has taken its name");
  } else {
    QStringList parts;
    if (change.size) parts << QStringLiteral("size");
    if (change.modified) parts << QStringLiteral("modification time");
    if (change.changed) parts << QStringLiteral("change time");
    if (change.content) parts << QStringLiteral("content");
    QString listed = parts.value(0);
    for (qsizetype i = 1; i < parts.size(); ++i) {
      listed += (i + 1 == parts.size() ? QStringLiteral(" and ") : QStringLiteral(", ")) + parts[i];
    }
    what = QStringLiteral("its %1 %2 not what the run read")
               .arg(listed, parts.size() == 1 ? QStringLiteral("is") : QStringLiteral("are"));
  }
  return QStringLiteral(
             "The file has changed since the run: %1, so its strings are not shown. Run the task "
             "again to see them.")
      .arg(what);
}

ResultsWindow::ResultsWindow(std::shared_ptr<const RowResult> result, QWidget* parent)
    : QWidget(parent, Qt::Window), result_(std::move(result)) {
  setObjectName("frmResults");
  setAttribute(Qt::WA_DeleteOnClose);
  const QString file = QFileInfo(DecodeName(result_->search->input)).fileName();
  QString title =
      QStringLiteral("Results: %1 (%2, %3)")
          .arg(file, From1251(result_->search->algorithm.Name), From1251(result_->preset));
  // Windows of earlier runs stay open beside the new ones: the run tells them apart.
  if (result_->run > 0) {
    title += QStringLiteral(" \u2014 run %1, %2")
                 .arg(result_->run)
                 .arg(result_->run_start.toString(QStringLiteral("HH:mm")));
  }
  setWindowTitle(title);
  keys_ = new KeyRankModel(result_, this);
  strings_ = new StringListModel(this);
  BuildControls();
  // An ANY row's Algorithm column widens the window, not the strings' pane.
  const int key_list_width = KeyListWidth(*keys_);
  const int width = kInitialSize.width() + key_list_width - kKeyListWidth;
  resize(width, kInitialSize.height());
  splitter_->setSizes({key_list_width, width - key_list_width});
  restored_place_ = RestoreWindowLayout(this);

  connect(strings_, &StringListModel::Progressed, this, [this] {
    ShowState();
    SelectPendingBest();
  });
  // Enter or a double click on a key goes to the string that ranked it.
  connect(key_grid_, &QAbstractItemView::activated, this, [this] { GoToBestString(); });
  connect(key_grid_, &QAbstractItemView::doubleClicked, this, [this] { GoToBestString(); });
  connect(key_grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { pending_best_.reset(); });
  connect(key_grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { ApplyFilter(); });
  connect(edFilter_, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
  connect(chkExpression_, &QCheckBox::toggled, this, [this](bool expression) {
    edFilter_->setPlaceholderText(expression ? kExpressionPlaceholder : kTextPlaceholder);
    ApplyFilter();
  });
  connect(btnSave_, &QPushButton::clicked, this, [this] { Save(); });
  connect(string_grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { ShowDetail(current.row()); });
  connect(string_grid_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    // A pane dragged shut opens again.
    if (string_splitter_->sizes().value(1) == 0) {
      string_splitter_->setSizes({kStringListHeight, kDetailHeight});
    }
    ShowDetail(index.row());
  });
  connect(strings_, &QAbstractItemModel::modelReset, detail_, &StringDetailPane::Clear);
  connect(btnSaveRanking_, &QPushButton::clicked, this, [this] { SaveRowRanking(); });
  connect(btnCancel_, &QPushButton::clicked, this, [this] {
    if (job_) job_->Cancel();
  });
  BuildShortcuts();

  if (keys_->rowCount() > 0) {
    SelectKey(keys_->KeyAt(0));
  } else {
    ShowState();
  }
}

ResultsWindow::~ResultsWindow() { delete job_; }

void ResultsWindow::BuildShortcuts() {
  auto* find = new QShortcut(QKeySequence::Find, this);
  find->setObjectName("scFind");
  connect(find, &QShortcut::activated, this, [this] {
    edFilter_->setFocus(Qt::ShortcutFocusReason);
    edFilter_->selectAll();
  });
  // Escape ends a copy or a save first; in the filter it clears the filter's text; the window
  // closes only when there is neither, as a browser's find bar or an editor's search box does.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setObjectName("scEscape");
  connect(escape, &QShortcut::activated, this, [this] {
    if (job_) {
      job_->Cancel();
    } else if (edFilter_->hasFocus() && !edFilter_->text().isEmpty()) {
      edFilter_->clear();
    } else {
      close();
    }
  });
  auto* close_window = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this);
  close_window->setObjectName("scClose");
  connect(close_window, &QShortcut::activated, this, [this] { close(); });
}

void ResultsWindow::closeEvent(QCloseEvent* event) {
  // A copy or a save stops with the window: nothing reaches the clipboard or the file.
  if (job_) job_->Cancel();
  SaveWindowLayout(this);
  QWidget::closeEvent(event);
}

void ResultsWindow::BuildControls() {
  lbSource_ = new QLabel(this);
  lbSource_->setObjectName("lbSource");
  lbSource_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lbSource_->setText(QStringLiteral("%1 \u2014 %2, preset \u201C%3\u201D: %4%5")
                         .arg(DecodeName(result_->search->input), SearchText(*result_),
                              From1251(result_->preset), StringCountText(result_->found),
                              result_->stopped ? QStringLiteral(" (stopped)") : QString()));

  key_grid_ = new KeyListView(keys_, result_, this);
  key_grid_->setObjectName("KeyGrid");
  matches_ = new KeyMatchPane(result_, keys_, key_grid_, key_grid_->shown(), this);
  key_grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  SetUpKeyGrid(key_grid_, *keys_);

  auto* right = new QWidget(this);
  lbKey_ = new QLabel(right);
  lbKey_->setObjectName("lbKey");
  // A long line of figures is cut at the pane's edge rather than pushing the key list narrower.
  lbKey_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  auto* filter_label = new QLabel(QStringLiteral("Filter:"), right);
  edFilter_ = new QLineEdit(right);
  edFilter_->setObjectName("edFilter");
  edFilter_->setPlaceholderText(kTextPlaceholder);
  edFilter_->setClearButtonEnabled(true);
  filter_label->setBuddy(edFilter_);
  chkExpression_ = new QCheckBox(QStringLiteral("Expression"), right);
  chkExpression_->setObjectName("chkExpression");
  chkExpression_->setToolTip(
      QStringLiteral("The filter is a regular expression of the presets' kind"));
  order_buttons_ = new QButtonGroup(this);
  order_buttons_->setExclusive(true);
  for (const OrderButton& shown : kOrderButtons) {
    auto* button = new QToolButton(right);
    button->setObjectName(shown.name);
    button->setText(QString::fromLatin1(shown.caption));
    button->setToolTip(QString::fromLatin1(shown.tip));
    button->setCheckable(true);
    button->setAutoRaise(true);
    button->setChecked(shown.order == order_);
    order_buttons_->addButton(button, static_cast<int>(shown.order));
  }
  connect(order_buttons_, &QButtonGroup::idClicked, this,
          [this](int id) { SetOrder(static_cast<StringListModel::Order>(id)); });
  lbFilterError_ = new QLabel(right);
  lbFilterError_->setObjectName("lbFilterError");
  QPalette error_palette = lbFilterError_->palette();
  error_palette.setColor(QPalette::WindowText, kErrorText);
  lbFilterError_->setPalette(error_palette);
  lbFilterError_->hide();

  string_grid_ = new StringGridView([this] { CopySelection(); }, right);
  string_grid_->setObjectName("StringGrid");
  string_grid_->setModel(strings_);
  string_grid_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  string_grid_->setTabKeyNavigation(false);
  SetUpGrid(string_grid_, kStringColumnWidths, StringListModel::kColumnCount);
  string_grid_->setContextMenuPolicy(Qt::CustomContextMenu);
  lbMessage_ = new QLabel(right);
  lbMessage_->setObjectName("lbMessage");
  lbMessage_->setWordWrap(true);
  lbMessage_->setAlignment(Qt::AlignCenter);
  lbMessage_->setMargin(24);
  stack_ = new QStackedWidget(right);
  stack_->setObjectName("StringStack");
  stack_->addWidget(string_grid_);
  stack_->addWidget(lbMessage_);
  detail_ = new StringDetailPane(right);

  lbCount_ = new QLabel(right);
  lbCount_->setObjectName("lbCount");
  btnCancel_ = new QPushButton(QStringLiteral("Cancel"), right);
  btnCancel_->setObjectName("btnCancel");
  btnCancel_->setToolTip(QStringLiteral("Stops the copy or the save (Escape)"));
  // The window's busy cursor says the copy goes on; the button stays a thing to click.
  btnCancel_->setCursor(Qt::ArrowCursor);
  btnCancel_->hide();
  btnSave_ = new QPushButton(QStringLiteral("Save..."), right);
  btnSave_->setObjectName("btnSave");
  btnSaveRanking_ = new QPushButton(QStringLiteral("Save ranking..."), right);
  btnSaveRanking_->setObjectName("btnSaveRanking");
  btnSaveRanking_->setToolTip(
      QStringLiteral("Saves every key's score and figures, best first, as tab-separated text"));
  btnSaveRanking_->setEnabled(keys_->rowCount() > 0);
  rules_ = std::make_unique<RuleSource>(result_);

  BuildStringMenu();
  LayOutControls(right, filter_label);
}

// The strings' context menu: copy, select all and save.
void ResultsWindow::BuildStringMenu() {
  menu_ = new QMenu(this);
  menu_->setObjectName("StringMenu");
  actCopy_ = menu_->addAction(QStringLiteral("Copy line"), this, [this] { CopySelection(); });
  actCopy_->setObjectName("actCopy");
  actCopy_->setShortcut(QKeySequence::Copy);
  actCopy_->setShortcutContext(Qt::WidgetShortcut);  // shown in the menu; the grid takes the key
  actCopyText_ = menu_->addAction(QStringLiteral("Copy text only"), this, [this] { CopyTexts(); });
  actCopyText_->setObjectName("actCopyText");
  actCopyText_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
  actCopyText_->setShortcutContext(Qt::WidgetShortcut);
  string_grid_->addAction(actCopyText_);
  actCopyKey_ = menu_->addAction(QStringLiteral("Copy key"), this, [this] { CopyKey(); });
  actCopyKey_->setObjectName("actCopyKey");
  actCopyKey_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K));
  actCopyKey_->setShortcutContext(Qt::WidgetShortcut);
  string_grid_->addAction(actCopyKey_);
  actSelectAll_ =
      menu_->addAction(QStringLiteral("Select all"), string_grid_, &QTableView::selectAll);
  actSelectAll_->setObjectName("actSelectAll");
  actSelectAll_->setShortcut(QKeySequence::SelectAll);
  actSelectAll_->setShortcutContext(Qt::WidgetShortcut);
  menu_->addSeparator();
  actSave_ = menu_->addAction(QStringLiteral("Save..."), this, [this] { Save(); });
  actSave_->setObjectName("actSave");
  actCopyYara_ =
      menu_->addAction(QStringLiteral("Copy as YARA rule"), this, [this] { CopyYaraRule(); });
  actCopyYara_->setObjectName("actCopyYara");
  menu_->insertAction(actSelectAll_, actCopyYara_);
  connect(string_grid_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    actCopy_->setEnabled(!job_ && string_grid_->selectionModel()->hasSelection());
    actCopyText_->setEnabled(actCopy_->isEnabled());
    actCopyKey_->setEnabled(SelectedKey() >= 0);
    actCopyYara_->setEnabled(string_grid_->selectionModel()->hasSelection());
    menu_->popup(string_grid_->viewport()->mapToGlobal(pos));
  });
  // The key list's menu: the ranking.
  key_menu_ = new QMenu(this);
  key_menu_->setObjectName("KeyMenu");
  actSaveRanking_ =
      key_menu_->addAction(QStringLiteral("Save ranking..."), this, [this] { SaveRowRanking(); });
  actSaveRanking_->setObjectName("actSaveRanking");
  actSaveRanking_->setEnabled(keys_->rowCount() > 0);
  key_grid_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(key_grid_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { key_menu_->popup(key_grid_->viewport()->mapToGlobal(pos)); });
}

// The source line above a splitter with the keys on the left, the filter and strings on the right.
void ResultsWindow::LayOutControls(QWidget* right, QLabel* filter_label) {
  auto* filter_row = new QHBoxLayout;
  filter_row->addWidget(filter_label);
  filter_row->addWidget(edFilter_, 1);
  filter_row->addWidget(chkExpression_);
  auto* bottom_row = new QHBoxLayout;
  bottom_row->addWidget(lbCount_, 1);
  bottom_row->addWidget(btnSaveRanking_);
  bottom_row->addWidget(btnCancel_);
  bottom_row->addWidget(btnSave_);
  auto* order_row = new QHBoxLayout;
  order_row->setSpacing(2);
  order_row->addWidget(new QLabel(QStringLiteral("Order:"), right));
  for (QAbstractButton* button : order_buttons_->buttons()) order_row->addWidget(button);
  order_row->addStretch(1);
  auto* right_column = new QVBoxLayout(right);
  right_column->setContentsMargins(0, 0, 0, 0);
  right_column->addWidget(lbKey_);
  right_column->addLayout(filter_row);
  right_column->addLayout(order_row);
  right_column->addWidget(lbFilterError_);
  string_splitter_ = new QSplitter(Qt::Vertical, right);
  string_splitter_->setObjectName("StringSplitter");
  string_splitter_->addWidget(stack_);
  string_splitter_->addWidget(detail_);
  string_splitter_->setCollapsible(0, false);
  string_splitter_->setSizes({kStringListHeight, kDetailHeight});
  right_column->addWidget(string_splitter_, 1);
  right_column->addLayout(bottom_row);

  splitter_ = new QSplitter(Qt::Horizontal, this);
  splitter_->setObjectName("ResultsSplitter");
  splitter_->setChildrenCollapsible(false);
  auto* left = new QWidget(this);
  auto* left_column = new QVBoxLayout(left);
  left_column->setContentsMargins(0, 0, 0, 0);
  left_column->addWidget(key_grid_, 1);
  left_column->addWidget(matches_);
  splitter_->addWidget(left);
  splitter_->addWidget(right);
  splitter_->setStretchFactor(1, 1);

  auto* column = new QVBoxLayout(this);
  column->addWidget(lbSource_);
  column->addWidget(splitter_, 1);

  // The keys, the filter and the strings in reading order; the detail pane under the strings
  // follows them, before the expression box and the buttons.
  setTabOrder(key_grid_, edFilter_);
  // Keys, filter, strings, the string whole and its bytes; then the rest of the window.
  auto* detail_text = detail_->findChild<QWidget*>("edDetailText");
  auto* detail_bytes = detail_->findChild<QWidget*>("edDetailBytes");
  setTabOrder(edFilter_, string_grid_);
  setTabOrder(string_grid_, detail_text);
  setTabOrder(detail_text, detail_bytes);
  setTabOrder(detail_bytes, chkExpression_);
  setTabOrder(chkExpression_, matches_);
  setTabOrder(matches_, btnSaveRanking_);
  setTabOrder(btnSaveRanking_, btnCancel_);
  setTabOrder(btnCancel_, btnSave_);
}

int ResultsWindow::SelectedKey() const {
  return key_grid_->KeyAt(key_grid_->selectionModel()->currentIndex().row());
}

void ResultsWindow::SelectKey(int key) {
  const int row = key_grid_->RowOf(key);
  if (row < 0) return;
  key_grid_->selectionModel()->setCurrentIndex(
      key_grid_->model()->index(row, 0),
      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ResultsWindow::ApplyFilter() {
  saved_note_.clear();
  const int key = SelectedKey();
  const QString text = edFilter_->text();
  StringListModel::Filter filter;
  QString error;
  if (!text.isEmpty() && chkExpression_->isChecked()) {
    try {
      auto expression = std::make_shared<const CompiledRegExp>(To1251(text));
      filter = [expression](std::string_view string) { return expression->Matches(string); };
    } catch (const ERegExp& e) {
      error = QString::fromUtf8(e.what());
    }
  } else if (!text.isEmpty()) {
    filter = ContainsFilter(To1251(text));
  }
  filter_invalid_ = !error.isEmpty();
  matches_->Search(text, chkExpression_->isChecked(), filter);
  lbFilterError_->setText(error);
  lbFilterError_->setVisible(filter_invalid_);
  if (filter_invalid_ || key < 0) {
    strings_->Clear();
  } else {
    strings_->Show(result_->search, key, std::move(filter),
                   ScorePositions((*result_->summary)[key]), order_);
  }
}

void ResultsWindow::ShowState() {
  const int key = SelectedKey();
  QString key_words;
  if (key >= 0) {
    const TAlgorithm& algorithm = KeyAlgorithm(*result_->search, key);
    const QString figures = KeyFiguresText((*result_->summary)[key]);
    // An ANY row's pair: "XOR8ROL key 858 (0x35A): ...", "NONE: ...".
    if (!result_->search->any) {
      key_words = QStringLiteral("Key %1: %2").arg(ListedKeyText(*result_->search, key), figures);
    } else if (algorithm.Unkeyed()) {
      key_words = QStringLiteral("%1: %2").arg(From1251(algorithm.Name), figures);
    } else {
      key_words = QStringLiteral("%1 key %2: %3")
                      .arg(From1251(algorithm.Name), ListedKeyText(*result_->search, key), figures);
    }
  }
  lbKey_->setText(key_words);
  lbKey_->setToolTip(key_words);
  const StringListModel::State state = strings_->state();
  using State = StringListModel::State;
  QString message;
  if (keys_->rowCount() == 0) {
    message = kNoStringsMessage;
  } else if (state == State::kChanged) {
    message = FileChangedText(strings_->change());
  } else if (state == State::kCannotRead) {
    message = kCannotReadFileMessage;
  }
  if (!message.isEmpty()) {
    lbMessage_->setText(message + QStringLiteral("\n\n") + DecodeName(result_->search->input));
  }
  // The message takes the strings' place without taking the focus: a filter being typed into
  // stays enabled and keeps every key press, whatever the file does under it.
  QWidget* focused = QApplication::focusWidget();
  stack_->setCurrentWidget(message.isEmpty() ? static_cast<QWidget*>(string_grid_) : lbMessage_);
  if (focused != nullptr && focused != QApplication::focusWidget() && focused->isVisible()) {
    focused->setFocus(Qt::OtherFocusReason);
  }
  const bool has_keys = keys_->rowCount() > 0;
  edFilter_->setEnabled(has_keys);
  chkExpression_->setEnabled(has_keys);

  if (state == State::kFailed) {
    lbFilterError_->setText(strings_->error());
    lbFilterError_->show();
  }
  const int64_t found = static_cast<int64_t>(strings_->found());
  const bool filtered = !edFilter_->text().isEmpty();
  QString count;
  if (state == State::kScanning) {
    count = QStringLiteral("Reading the file: %1%, %2 so far")
                .arg(static_cast<int>(strings_->progress() * 100))
                .arg(StringCountText(found));
  } else if (state == State::kComplete) {
    count = StringCountText(found);
    if (filtered) count += found == 1 ? QStringLiteral(" matches") : QStringLiteral(" match");
    if (found > StringListModel::kMaxListedRows) {
      count += QStringLiteral("; the list shows the first %1, Save writes them all")
                   .arg(GroupedNumber(StringListModel::kMaxListedRows));
    }
  }
  if (strings_->too_many_to_sort() && (state == State::kScanning || state == State::kComplete)) {
    count += QStringLiteral(
                 "; too many to sort (more than %1 strings or %2 MB of text): listed "
                 "in the file's order")
                 .arg(GroupedNumber(static_cast<int64_t>(StringListModel::kMaxSortedStrings)))
                 .arg(StringListModel::kMaxSortedBytes >> 20);
  }
  if (!saved_note_.isEmpty()) count = saved_note_;
  if (job_) count = JobText();
  lbCount_->setText(count);
  btnCancel_->setVisible(job_ != nullptr);
  const bool can_save =
      !job_ && (state == State::kScanning || (state == State::kComplete && found > 0));
  btnSave_->setEnabled(can_save);
  actSave_->setEnabled(can_save);
}

void ResultsWindow::CopySelection() {
  if (job_) return;
  const QItemSelection selection = string_grid_->selectionModel()->selection();
  if (selection.isEmpty()) return;
  // The selection is kept as ranges, never as one entry per row: all of millions of rows may
  // be selected.
  std::vector<std::pair<int, int>> ranges;
  for (const QItemSelectionRange& range : selection) {
    ranges.emplace_back(range.top(), range.bottom());
  }
  std::sort(ranges.begin(), ranges.end());
  std::vector<LineJob::Rows> rows;
  int next = 0;
  for (const auto& [top, bottom] : ranges) {
    const int first = std::max(top, next);
    if (first > bottom) continue;
    rows.push_back({static_cast<uint64_t>(first), static_cast<uint64_t>(bottom - first + 1)});
    next = bottom + 1;
  }
  auto sink = std::make_unique<ClipboardText>();
  ClipboardText* text = sink.get();
  auto* job = new LineJob(strings_, std::move(rows), text, kMaxCopyBytes, this);
  StartJob(job, std::move(sink), false,
           [this, text](LineJob::Outcome outcome, const LineJob& ended) {
             switch (outcome) {
               case LineJob::Outcome::kDone:
                 QGuiApplication::clipboard()->setText(text->Take());
                 saved_note_ = QStringLiteral("%1 copied").arg(LinesText(ended.total()));
                 break;
               case LineJob::Outcome::kCancelled:
                 saved_note_ = QStringLiteral("The copy was cancelled; the clipboard is as it was");
                 break;
               case LineJob::Outcome::kTooLarge:
                 ShowMessageBox(this, kCopyTooLargeMessage);
                 break;
               case LineJob::Outcome::kFailed:
                 ShowErrorBox(this, ended.error());
                 break;
               case LineJob::Outcome::kUnavailable:
                 // The listing ends as the job does, when it found the file changed.
                 if (strings_->change().any()) {
                   saved_note_ = QStringLiteral(
                       "The file has changed, so nothing was copied; the clipboard is as it was");
                 }
                 break;
             }
           });
}

void ResultsWindow::StartJob(LineJob* job, std::unique_ptr<ByteSink> sink, bool saves,
                             std::function<void(LineJob::Outcome, const LineJob&)> end) {
  job_ = job;
  job_sink_ = std::move(sink);
  job_end_ = std::move(end);
  job_saves_ = saves;
  saved_note_.clear();
  connect(job, &LineJob::Progressed, this, [this] { ShowState(); });
  connect(job, &LineJob::Finished, this, [this](LineJob::Outcome outcome) { EndJob(outcome); });
  setCursor(Qt::BusyCursor);
  ShowState();
  job->Start();
}

void ResultsWindow::EndJob(LineJob::Outcome outcome) {
  LineJob* job = job_;
  job_ = nullptr;
  const auto end = std::move(job_end_);
  job_end_ = nullptr;
  unsetCursor();
  Guarded(this, [&] { end(outcome, *job); });
  job_sink_.reset();
  job->deleteLater();
  ShowState();
}

QString ResultsWindow::JobText() const {
  const int percent = static_cast<int>(job_->progress() * 100);
  if (job_->waiting()) {
    return QStringLiteral("Reading the file to save the lines: %1%").arg(percent);
  }
  return QStringLiteral("%1 %2: %3%")
      .arg(job_saves_ ? QStringLiteral("Saving") : QStringLiteral("Copying"),
           LinesText(job_->total()))
      .arg(percent);
}

void ResultsWindow::CopyTexts() {
  const QItemSelection selection = string_grid_->selectionModel()->selection();
  if (selection.isEmpty()) return;
  std::vector<std::pair<int, int>> rows;
  for (const QItemSelectionRange& range : selection) rows.emplace_back(range.top(), range.bottom());
  std::sort(rows.begin(), rows.end());
  Guarded(this, [&] {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct RestoreCursor {
      ~RestoreCursor() { QApplication::restoreOverrideCursor(); }
    } restore;
    const int key = strings_->key();
    // Read again only for a string longer than the text its row holds.
    std::unique_ptr<StringBytes> bytes;
    std::string texts;
    int next = 0;
    const auto changed = [this] {
      saved_note_ =
          QStringLiteral("The file has changed, so nothing was copied; the clipboard is as it was");
      ShowState();
    };
    for (const auto& [top, bottom] : rows) {
      for (int row = std::max(top, next); row <= bottom; ++row) {
        const FoundString* found = strings_->StringAt(row);
        if (found == nullptr) return changed();  // the listing ends: the file changed
        if (found->text.size() == found->length) {
          texts += found->text;
        } else {
          if (!bytes) {
            bytes = std::make_unique<StringBytes>(PairSearch(*result_->search, key),
                                                  PairKeyOf(*result_->search, key));
            if (bytes->Open() != StringBytes::Status::kReady) return changed();
          }
          try {
            texts += bytes->Text(found->position, found->length, found->length);
          } catch (const InputChangedError&) {
            return changed();
          } catch (const InputReadError&) {
            return changed();
          }
        }
        texts += '\n';
      }
      next = std::max(next, bottom + 1);
    }
    QGuiApplication::clipboard()->setText(From1251(texts));
  });
}

void ResultsWindow::CopyKey() {
  const int key = SelectedKey();
  if (key >= 0) QGuiApplication::clipboard()->setText(NamedKeyText(*result_->search, key));
}

void ResultsWindow::SetOrder(StringListModel::Order order) {
  order_ = order;
  for (QAbstractButton* button : order_buttons_->buttons()) {
    if (order_buttons_->id(button) == static_cast<int>(order)) button->setChecked(true);
  }
  strings_->SetOrder(order);
}

void ResultsWindow::GoToBestString() {
  const int key = SelectedKey();
  if (key < 0) return;
  const std::vector<uint64_t> positions = ScorePositions((*result_->summary)[key]);
  if (positions.empty()) return;
  pending_best_ = positions.front();
  string_grid_->setFocus(Qt::OtherFocusReason);
  SelectPendingBest();
}

void ResultsWindow::SelectPendingBest() {
  if (!pending_best_) return;
  const int row = strings_->RowOf(*pending_best_);
  // Not listed yet: the scan, or a sort waiting for its end, lists it later.
  if (row < 0) {
    if (strings_->state() != StringListModel::State::kScanning) pending_best_.reset();
    return;
  }
  pending_best_.reset();
  const QModelIndex index = strings_->index(row, 0);
  string_grid_->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  string_grid_->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void ResultsWindow::ShowDetail(int row) {
  const FoundString* found = strings_->StringAt(row);
  if (found == nullptr) return detail_->Clear();
  detail_->ShowString(*result_, strings_->key(), found->position, found->length);
}

QString ResultsWindow::SuggestedSavePath() const {
  // An ANY row's pair is saved under its own algorithm; a rotation key as it is typed.
  const int key = SelectedKey();
  const TAlgorithm& algorithm = KeyAlgorithm(*result_->search, key);
  const int shown_key = PairKeyOf(*result_->search, key);
  return QStringLiteral("%1_%2_key%3.log")
      .arg(DecodeName(result_->search->input), From1251(algorithm.Name),
           algorithm.ByteKey ? QString::number(shown_key)
                             : QString::fromStdString(KeyText(algorithm, shown_key)));
}

void ResultsWindow::Save() {
  if (SelectedKey() < 0 || filter_invalid_ || job_) return;
  const QString path = ChooseFileToSave(this, SuggestedSavePath());
  if (path.isEmpty()) return;
  Guarded(this, [&] {
    // The file takes the place of the named one only when every line is written.
    auto file = std::make_unique<LogFile>(QFile::encodeName(path).toStdString());
    LogFile* log = file.get();
    StartJob(
        new LineJob(strings_, log, this), std::move(file), true,
        [this, log, path](LineJob::Outcome outcome, const LineJob& ended) {
          switch (outcome) {
            case LineJob::Outcome::kDone:
              log->Close();
              saved_note_ = QStringLiteral("%1 saved to %2").arg(LinesText(ended.total()), path);
              break;
            case LineJob::Outcome::kCancelled:
              saved_note_ = QStringLiteral("Saving was cancelled; %1 is as it was").arg(path);
              break;
            case LineJob::Outcome::kFailed:
              ShowErrorBox(this, ended.error());
              break;
            case LineJob::Outcome::kUnavailable:
              // The lines written so far go with the temporary file.
              if (strings_->change().any()) {
                saved_note_ =
                    QStringLiteral("The file has changed, so nothing was saved; %1 is as it was")
                        .arg(path);
              }
              break;
            case LineJob::Outcome::kTooLarge:
              break;
          }
        });
  });
}

void ResultsWindow::SaveRowRanking() {
  const QString note = SaveRanking(this, *result_);
  if (note.isEmpty()) return;
  saved_note_ = note;
  ShowState();
}

void ResultsWindow::CopyYaraRule() {
  const int key = SelectedKey();
  const QItemSelection selection = string_grid_->selectionModel()->selection();
  if (key < 0 || selection.isEmpty()) return;
  // Every selected string in the list's order, those whose text is no evidence left behind at
  // once: a selection of millions holds few that are.
  std::vector<std::pair<int, int>> rows;
  for (const QItemSelectionRange& range : selection) rows.emplace_back(range.top(), range.bottom());
  std::sort(rows.begin(), rows.end());
  std::vector<FoundString> strings;
  int64_t selected = 0;
  int next = 0;
  {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct RestoreCursor {
      ~RestoreCursor() { QApplication::restoreOverrideCursor(); }
    } restore;
    for (const auto& [top, bottom] : rows) {
      const int first = std::max(top, next);
      if (first > bottom) continue;
      selected += bottom - first + 1;
      for (int row = first; row <= bottom; ++row) {
        const FoundString* found = strings_->StringAt(row);
        if (found != nullptr && TextScore(found->text) > KeySummary::kThresholdBits) {
          strings.push_back(*found);
        }
      }
      next = bottom + 1;
    }
  }
  QString message;
  RuleStrings counted;
  const std::optional<std::string> rule = rules_->Rule(key, strings, message, &counted);
  if (!rule) {
    saved_note_ = message;
    ShowState();
    return;
  }
  QGuiApplication::clipboard()->setText(QString::fromStdString(*rule));
  saved_note_ = RuleCopiedText(counted, selected);
  ShowState();
}

}  // namespace veskor
