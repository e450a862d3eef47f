// The main window: its frame (path line, tab control with its three pages, status bar, the
// format preview), start-up and shut-down, the input path, drops, the run and the log links.
#include "ui/main_window.h"

#include <QApplication>
#include <QByteArray>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRect>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/run/analysis_run.h"
#include "engine/run/grid_run.h"
#include "engine/search/scan_context.h"
#include "files/file_exists.h"
#include "program_files/program_files.h"
#include "report/report_format.h"
#include "text/error.h"
#include "ui/desktop.h"
#include "ui/error_box.h"
#include "ui/look.h"
#include "ui/preset_page.h"
#include "ui/qt_text.h"
#include "ui/results/results_window.h"
#include "ui/results/window_memory.h"
#include "ui/run_texts.h"
#include "ui/task_page.h"
#include "ui/task_table_model.h"

namespace veskor {
namespace {

// The tab strip is 23 pixels high, so that each page of 444 x 263 fills the control below it.
constexpr int kTabStripHeight = 23;

constexpr int kPathButtonWidth = 20;
constexpr int kPathButtonHeight = 17;
constexpr int kStatusSpacerWidth = 114;

// The grey of the credit line and of the Options page's parameter hint.
const QColor kGreyText(128, 128, 128);

class FixedTabBar : public QTabBar {
 public:
  using QTabBar::QTabBar;

 protected:
  QSize tabSizeHint(int index) const override {
    return QSize(QTabBar::tabSizeHint(index).width(), kTabStripHeight);
  }
};

// A tab control whose strip has the fixed height above and whose pages fill everything below
// it. The pages are laid out without the style's frame (document mode), which would take pixels
// from them; the frame is painted behind them instead, where their 8-pixel margins leave room.
class MainTabWidget : public QTabWidget {
 public:
  explicit MainTabWidget(QWidget* parent) : QTabWidget(parent) {
    setTabBar(new FixedTabBar(this));
    setDocumentMode(true);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QStyleOptionTabWidgetFrame option;
    initStyleOption(&option);
    option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
    option.rect =
        QRect(0, kTabStripHeight - overlap, width(), height() - kTabStripHeight + overlap);
    QStylePainter painter(this);
    painter.drawPrimitive(QStyle::PE_FrameTabWidget, option);
  }
};

// A label whose height and position are fixed and whose width grows to its caption, so that no
// caption is cut whatever the font's widths.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top,
                  int width, int height) {
  auto* label = new QLabel(caption, parent);
  if (name != nullptr) label->setObjectName(name);
  label->setGeometry(left, top, std::max(width, label->sizeHint().width()), height);
  return label;
}

void MakeGrey(QLabel* label) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, kGreyText);
  label->setPalette(palette);
}

// A drag or drop that carries at least one local file's name.
bool CarriesLocalFiles(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return false;
  const QList<QUrl> urls = data->urls();
  return std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

std::string FileSystemBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Where the browse dialog opens: the folder of the path in the field (the path itself when it
// names a folder) when that folder exists; otherwise empty, the dialog's own default.
QString FolderToBrowse(const QString& path) {
  if (path.isEmpty()) return QString();
  const QFileInfo info(path);
  if (info.isDir()) return info.absoluteFilePath();
  const QDir folder = info.absoluteDir();
  return folder.exists() ? folder.absolutePath() : QString();
}

}  // namespace

// The window's side of a run over its grid: the path as it is now at each row's start, the
// run's messages in plain boxes, and its pace, at which the window processes its events: there
// "Stop", a close request and drops arrive.
class TfrmMain::WindowRunHost : public RunHost {
 public:
  explicit WindowRunHost(TfrmMain& window) : window_(window) {}

  std::string RowInput(const std::string&) override {
    return FileSystemBytes(window_.edPath_->text());
  }
  void Message(const RequestRow&, const std::string& text) override {
    ShowMessageBox(&window_, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  }
  void Pace(const RequestRow& row, int key, int64_t lines) override {
    window_.ShowRunProgress(row.row, key, lines);
    QCoreApplication::processEvents();
  }
  void SetRunControls(bool enabled) override { window_.SetRunControls(enabled); }
  // A finished row's progress would stand for the next row's until that one reports its own
  // (or during its message, when it does not run).
  void RowFinished(const RequestRow& row, const RowOutcome& outcome) override {
    window_.lbInfo_->setText(kCreditCaption);
    window_.KeepResults(row, outcome);
  }

 private:
  TfrmMain& window_;
};

TfrmMain::TfrmMain(QWidget* parent, const QString& exe_dir)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName("frmMain");
  setWindowTitle(kApplicationTitle);
  setFixedSize(kMainWindowWidth, kMainWindowHeight);

  lbFilename_ = MakeLabel(this, "lbFilename", "Filename:", 9, 34, 45, 13);
  BuildPathLine();
  BuildPages();
  BuildStatusBar();

  setTabOrder(edPath_, tcMain_);
  tcMain_->setCurrentIndex(kTabPreset);

  btnAnalyze_ = task_page_->analyze_button();
  btnAnalyze_->setProperty(kTagProperty, 0);
  connect(edPath_, &QLineEdit::textChanged, this, [this] { edPathChange(); });
  connect(edPathButton_, &QToolButton::clicked, this, [this] { edPathSubEditButton0Click(); });
  connect(btnAnalyze_, &QPushButton::clicked, this, [this] { btnAnalyzeClick(); });
  connect(task_page_, &TaskPage::CellClicked, this,
          [this](int column, int row) { TaskGridCellClick(column, row); });
  connect(task_page_, &TaskPage::ResultsRequested, this, [this](int row) { ShowResults(row); });
  // A row's results end with its log path: ResetTaskResults, Reset, Delete task.
  TaskTableModel* grid_model = task_page_->model();
  grid_model->SetRowResults(&results_);
  connect(grid_model, &QAbstractItemModel::modelReset, this, [this] { PruneResults(); });
  connect(grid_model, &QAbstractItemModel::rowsRemoved, this, [this] { PruneResults(); });
  connect(grid_model, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& first, const QModelIndex& last) {
            if (first.column() <= NxGotoColumn && NxGotoColumn <= last.column()) PruneResults();
          });

  FormCreate(exe_dir);
}

TfrmMain::~TfrmMain() {
  qApp->removeEventFilter(this);
  CloseResultsWindows();
  // The pages refer to the models; they must go before the members do.
  delete tcMain_;
}

void TfrmMain::FormCreate(const QString& exe_dir) {
  Guarded(this, [&] {
    const QString dir = exe_dir.isEmpty() ? QCoreApplication::applicationDirPath() : exe_dir;
    exe_dir_ = FileSystemBytes(dir);
    if (exe_dir_.empty() || exe_dir_.back() != '/') exe_dir_.push_back('/');
  });
  Guarded(this, [&] { files_ = std::make_unique<ProgramFiles>(exe_dir_); });
  const FolderLock::Outcome claim = files_ ? files_->TakeFolder() : FolderLock::Outcome::kTaken;
  std::string dir = files_ ? files_->dir() : std::string();
  if (dir.size() > 1) dir.pop_back();
  const auto show = [](const std::string& text) {
    ShowMessageBox(nullptr, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  };
  if (claim == FolderLock::Outcome::kHeldElsewhere) {
    // That window saves its presets, table and format at its end: whatever this one saved
    // would be overwritten, or would overwrite that window's.
    files_.reset();
    refused_ = true;
    show(Substitute(kAlreadyRunningMessage, dir));
    return;
  }
  // Another user's window may hold the files unseen: this one reads them and saves nothing.
  if (claim == FolderLock::Outcome::kUnavailable) show(Substitute(kCannotLockMessage, dir));
  // The list's change notice fills the Presets page and the Preset column's choices.
  std::string notice;
  Guarded(this, [&] {
    if (files_) notice = files_->LoadPresets(presets_);
  });
  if (!notice.empty()) show(notice);
  Guarded(this, [] { FillAlgorithms(); });
  Guarded(this, [&] {
    if (files_) {
      files_->LoadTable(tasks_, presets_);
    } else {
      tasks_.AddDefaultTasks(presets_.PresetName(0));
    }
  });
  Guarded(this, [&] {
    edFormat_->setText(From1251(files_ ? files_->LoadFormat() : std::string(kDefaultReportFormat)));
  });
  Guarded(this, [&] { edFormatChange(); });
  Guarded(this, [&] {
    setAcceptDrops(true);
    qApp->installEventFilter(this);
  });
}

void TfrmMain::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  if (!files_) return;
  std::vector<std::string> failures;
  Guarded(this, [&] { failures = files_->SaveAll(To1251(edFormat_->text()), tasks_, presets_); });
  if (failures.empty()) return;
  // Each message is finished as the box finishes a single one.
  QStringList lines;
  for (const std::string& failure : failures) {
    lines << ErrorBoxText(
        QString::fromUtf8(failure.data(), static_cast<qsizetype>(failure.size())));
  }
  ShowErrorBox(this, lines.join(QChar('\n')));
}

void TfrmMain::SaveAtExit() {
  if (destroyed_) return;
  destroyed_ = true;
  if (!files_) return;
  // The views must not hear of the changes: what they would draw on is gone.
  tasks_.SetObserver(nullptr);
  presets_.SetChangeHandler(nullptr);
  try {
    for (const std::string& failure : files_->SaveAll(format_, tasks_, presets_)) {
      std::fprintf(stderr, "veskor: %s\n", failure.c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "veskor: %s\n", e.what());
  }
}

std::string TfrmMain::files_dir() const { return files_ ? files_->dir() : std::string(); }

bool TfrmMain::running() const {
  return run_state_ == RunState::kRunning || run_state_ == RunState::kClosing;
}

void TfrmMain::edPathChange() {
  btnAnalyze_->setEnabled(running() || FileExists(FileSystemBytes(edPath_->text())));
}

void TfrmMain::edPathSubEditButton0Click() {
  Guarded(this, [&] {
    const QString path = ChooseExistingFile(this, FolderToBrowse(edPath_->text()));
    if (!path.isEmpty()) edPath_->setText(path);
  });
}

void TfrmMain::btnAnalyzeClick() {
  if (running()) {
    RequestStop();
    return;
  }
  // A new run replaces every row's results; a window open on an earlier run's keeps them.
  std::erase_if(results_windows_, [](const auto& entry) { return entry.second.isNull(); });
  results_.Clear();
  ++runs_;
  run_start_ = QDateTime::currentDateTime();
  WindowRunHost host(*this);
  Guarded(this, [&] {
    // The Options and Presets pages are disabled while the run lasts: one format and the
    // presets as they are now serve every row.
    AnalysisRequest request;
    request.rows = CheckedRows(tasks_, presets_);
    request.input = FileSystemBytes(edPath_->text());
    request.format = To1251(edFormat_->text());
    RunAnalysis(tasks_, request, host);
  });
  // The run restores the controls also when an error ends it; this only makes sure of it.
  if (running()) SetRunControls(true);
  if (run_state_ == RunState::kCloseDue) {
    run_state_ = RunState::kIdle;
    close();
  }
}

void TfrmMain::SetRunControls(bool enabled) {
  edPath_->setEnabled(enabled);
  task_page_->SetRunControls(enabled);
  QTableView* grid = task_page_->grid();
  if (enabled) {
    grid->setEnabled(true);
    grid->setFocus();
  } else {
    grid->setFocus();
    grid->setEnabled(false);
  }
  tcMain_->setTabEnabled(kTabOptions, enabled);
  tcMain_->setTabEnabled(kTabPreset, enabled);
  if (enabled) {
    run_state_ = run_state_ == RunState::kClosing ? RunState::kCloseDue : RunState::kIdle;
  } else {
    run_state_ = RunState::kRunning;
  }
  // The button keeps its Tag as the window's state: 0 idle, 1 running.
  btnAnalyze_->setProperty(kTagProperty, enabled ? 0 : 1);
  btnAnalyze_->setText(enabled ? kAnalyzeCaption : kStopCaption);
  if (enabled) lbInfo_->setText(kCreditCaption);
  // "Stop" stays enabled while the run lasts; afterwards the path decides again.
  edPathChange();
}

void TfrmMain::ShowRunProgress(int row, int key, int64_t lines) {
  if (row < 0 || row >= tasks_.RowCount()) return;
  const QString text = RunProgressText(FromU16(tasks_.Text(NxAlgoColumn, row)),
                                       !tasks_.Text(NxKeyColumn, row).empty(), key, lines,
                                       tasks_.WholeNumber(NxProgressColumn, row));
  // About fifty times a second: a label that is told the same text need not repaint.
  if (lbInfo_->text() != text) lbInfo_->setText(text);
}

void TfrmMain::TaskGridCellClick(int column, int row) {
  Guarded(this, [&] {
    if (column != NxGotoColumn || row < 0 || row >= tasks_.RowCount()) return;
    const std::string& log = tasks_.LogPath(row);
    if (log.empty() || !FileExists(log)) return;
    const QString path = QFile::decodeName(QByteArray::fromStdString(log));
    if (!OpenWithDesktop(path))
      ShowErrorBox(this, QString::fromUtf8(kNoLogProgramMessage).arg(path));
  });
}

void TfrmMain::KeepResults(const RequestRow& row, const RowOutcome& outcome) {
  if (outcome.kind != RowOutcome::Kind::kDone && outcome.kind != RowOutcome::Kind::kStopped) {
    return;
  }
  if (!outcome.summary || !outcome.search || outcome.log_path.empty()) return;
  auto result = std::make_shared<RowResult>();
  result->summary = outcome.summary;
  result->search = outcome.search;
  result->found = outcome.found;
  result->stopped = outcome.kind == RowOutcome::Kind::kStopped;
  result->key = outcome.key;
  result->run = runs_;
  result->run_start = run_start_;
  result->preset = row.preset;
  results_.Keep(outcome.log_path, std::move(result));
}

void TfrmMain::PruneResults() {
  for (const auto& dropped : results_.Prune(tasks_)) {
    const auto window = results_windows_.find(dropped.get());
    if (window == results_windows_.end()) continue;
    if (window->second) window->second->close();
    results_windows_.erase(window);
  }
}

void TfrmMain::CloseResultsWindows() {
  for (auto& [result, window] : results_windows_) {
    if (window) window->close();
  }
  results_windows_.clear();
}

void TfrmMain::CenterResultsWindow(ResultsWindow* window) const {
  // Over the main window, inside the screen: where the user's eyes are.
  QRect frame = window->frameGeometry();
  frame.moveCenter(frameGeometry().center());
  if (const QScreen* screen = this->screen()) {
    const QRect available = screen->availableGeometry();
    frame.moveLeft(
        std::max(available.left(), std::min(frame.left(), available.right() - frame.width() + 1)));
    frame.moveTop(
        std::max(available.top(), std::min(frame.top(), available.bottom() - frame.height() + 1)));
  }
  window->move(frame.topLeft());
}

ResultsWindow* TfrmMain::ShowResults(int row) {
  const std::shared_ptr<const RowResult> result = results_.Find(tasks_, row);
  if (!result) return nullptr;
  QPointer<ResultsWindow>& window = results_windows_[result.get()];
  if (!window) {
    // The last of the windows still open, whichever was opened last: a closed one leaves the
    // cascade to the one opened before it.
    ResultsWindow* last_open = nullptr;
    if (last_results_window_ && last_results_window_->isVisible()) {
      last_open = last_results_window_;
    } else {
      for (ResultsWindow* open : findChildren<ResultsWindow*>(Qt::FindDirectChildrenOnly)) {
        if (open->isVisible()) last_open = open;
      }
    }
    window = new ResultsWindow(result, this);
    if (last_open != nullptr) {
      PlaceCascaded(window, last_open);
    } else if (!window->restored_place()) {
      CenterResultsWindow(window);
    }
    last_results_window_ = window;
  }
  window->show();
  window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
  window->raise();
  window->activateWindow();
  return window;
}

void TfrmMain::TakeDroppedFiles(const QDropEvent& drop) {
  const QMimeData* mime = drop.mimeData();
  if (mime == nullptr) return;
  for (const QUrl& url : mime->urls()) {
    if (!url.isLocalFile()) continue;
    const QString name = url.toLocalFile();
    // The same name again changes no text, but its existence is tested anew all the same.
    if (edPath_->text() == name) {
      edPathChange();
    } else {
      edPath_->setText(name);
    }
  }
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  RequestStop();
  CloseResultsWindows();
  if (running()) {
    // The run sees the flag at its next events, ends the row as stopped and returns; the
    // window closes then, from btnAnalyzeClick.
    run_state_ = RunState::kClosing;
    event->ignore();
    return;
  }
  event->accept();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
    return QWidget::eventFilter(watched, event);
  }
  if (!watched->isWidgetType() || static_cast<QWidget*>(watched)->window() != this) return false;
  // QDragEnterEvent and QDragMoveEvent derive from QDropEvent.
  auto* drop = static_cast<QDropEvent*>(event);
  if (!CarriesLocalFiles(drop->mimeData())) return false;
  if (type == QEvent::Drop) {
    Beep();
    TakeDroppedFiles(*drop);
  }
  drop->acceptProposedAction();
  return true;
}

void TfrmMain::BuildPathLine() {
  edPath_ = new QLineEdit(this);
  edPath_->setObjectName("edPath");
  edPath_->setGeometry(9, 50, 447, 21);

  // The button fills the edit's right end inside its frame; the text stops short of it.
  edPathButton_ = new QToolButton(edPath_);
  edPathButton_->setObjectName("edPathButton");
  edPathButton_->setText("...");
  edPathButton_->setFocusPolicy(Qt::NoFocus);
  edPathButton_->setCursor(Qt::ArrowCursor);
  const int inset = (edPath_->height() - kPathButtonHeight) / 2;
  edPathButton_->setGeometry(edPath_->width() - inset - kPathButtonWidth, inset, kPathButtonWidth,
                             kPathButtonHeight);
  edPath_->setTextMargins(0, 0, kPathButtonWidth + inset, 0);
}

void TfrmMain::BuildPages() {
  tcMain_ = new MainTabWidget(this);
  tcMain_->setObjectName("tcMain");
  tcMain_->setGeometry(10, 80, kPageWidth, kTabStripHeight + kPageHeight);

  task_page_ = new TaskPage(tasks_, tcMain_);
  task_page_->setObjectName("TaskSheet");
  options_page_ = BuildOptionsPage();
  preset_page_ = new PresetPage(presets_, tcMain_);
  preset_page_->setObjectName("PresetSheet");

  tcMain_->insertTab(kTabTask, task_page_, "Tasks");
  tcMain_->insertTab(kTabOptions, options_page_, "Options");
  tcMain_->insertTab(kTabPreset, preset_page_, "Presets");

  preset_page_->SetChoicesHandler(
      [this](const std::vector<std::string>& choices) { task_page_->SetPresetChoices(choices); });
  task_page_->SetFirstPresetName([this] { return presets_.PresetName(0); });
}

QWidget* TfrmMain::BuildOptionsPage() {
  auto* page = new QWidget(tcMain_);
  page->setObjectName("OptionsSheet");
  page->resize(kPageWidth, kPageHeight);

  MakeLabel(page, "lbFormat", "Result formating:", 8, 8, 79, 13);
  edFormat_ = new QLineEdit(From1251(kDefaultReportFormat), page);
  edFormat_->setObjectName("edFormat");
  edFormat_->setGeometry(8, 24, 225, 21);
  MakeGrey(MakeLabel(page, "lbParameters", "Parameters: Key, Filesize length, Position, String", 8,
                     53, 225, 13));

  MakeLabel(page, "lbExample", "Example:", 240, 8, 43, 13);
  edExample_ = new QLineEdit(page);
  edExample_->setObjectName("edExample");
  edExample_->setGeometry(240, 24, 193, 21);
  edExample_->setReadOnly(true);

  setTabOrder(edFormat_, edExample_);
  connect(edFormat_, &QLineEdit::textChanged, this, [this] { edFormatChange(); });
  return page;
}

void TfrmMain::BuildStatusBar() {
  status_bar_ = new QStatusBar(this);
  status_bar_->setObjectName("StatusBar");
  status_bar_->setSizeGripEnabled(false);
  status_bar_->setGeometry(4, 374, 459, 23);

  lbInfo_ = new QLabel(kCreditCaption, status_bar_);
  lbInfo_->setObjectName("lbInfo");
  MakeGrey(lbInfo_);
  status_bar_->addWidget(lbInfo_, 1);

  auto* spacer = new QWidget(status_bar_);
  spacer->setObjectName("StatusSpacer");
  spacer->setFixedWidth(kStatusSpacerWidth);
  status_bar_->addPermanentWidget(spacer);

  auto* version = new QLabel(kVersionCaption, status_bar_);
  version->setObjectName("lbVersion");
  status_bar_->addPermanentWidget(version);
}

void TfrmMain::edFormatChange() {
  format_ = To1251(edFormat_->text());
  const std::optional<std::string> line = FormatPreview(format_);
  edExample_->setText(line ? From1251(*line) : From1251(kIncorrectFormatPreview));
}

void TfrmMain::showEvent(QShowEvent* event) {
  if (!centred_ && !event->spontaneous()) {
    centred_ = true;
    CentreOnScreen();
  }
  QWidget::showEvent(event);
}

void TfrmMain::CentreOnScreen() {
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  move(frame.topLeft());
}

}  // namespace veskor
