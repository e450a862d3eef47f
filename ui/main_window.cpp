// The main window's frame: path line, tab control with its three pages, status bar, and the
// format preview of the Options page.
#include "ui/main_window.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRect>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "report/report_format.h"
#include "ui/error_box.h"
#include "ui/preset_page.h"
#include "ui/qt_text.h"
#include "ui/task_page.h"

namespace veskor {
namespace {

// The tab strip is 23 pixels high, so that each page of 444 x 263 fills the control below it.
constexpr int kTabStripHeight = 23;
constexpr int kPageWidth = 444;
constexpr int kPageHeight = 263;

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

}  // namespace

TfrmMain::TfrmMain(QWidget* parent)
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
}

TfrmMain::~TfrmMain() {
  // The pages refer to the models; they must go before the members do.
  delete tcMain_;
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
  tcMain_->setGeometry(10, 80, 444, 286);

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

  auto* info = new QLabel(kCreditCaption, status_bar_);
  info->setObjectName("lbInfo");
  MakeGrey(info);
  status_bar_->addWidget(info, 1);

  auto* spacer = new QWidget(status_bar_);
  spacer->setObjectName("StatusSpacer");
  spacer->setFixedWidth(kStatusSpacerWidth);
  status_bar_->addPermanentWidget(spacer);

  auto* version = new QLabel(kVersionCaption, status_bar_);
  version->setObjectName("lbVersion");
  status_bar_->addPermanentWidget(version);
}

void TfrmMain::edFormatChange() {
  const std::optional<std::string> line = FormatPreview(To1251(edFormat_->text()));
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
