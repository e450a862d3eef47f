// The main window's frame: controls and their places, the window's size and flags, what it shows
// before start-up, the format preview, captions, tab order, and the page pictures on request.
#include "ui/main_window.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QScreen>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "report/report_format.h"
#include "ui/error_box.h"
#include "ui/look.h"
#include "ui/qt_text.h"
#include "ui/task_page.h"

using veskor::TfrmMain;

namespace {

// A control's place relative to a named ancestor (the window, tcMain, a page or a panel).
struct Place {
  const char* name;
  const char* ancestor;
  int x, y, w, h;
};

// Controls whose caption decides their width: they sit at the given place and grow to the
// right when the caption is wider than the design width.
struct LabelPlace {
  const char* name;
  const char* ancestor;
  int x, y, w, h;
  const char* caption;
};

const Place kPlaces[] = {
    {"edPath", "frmMain", 9, 50, 447, 21},
    {"edPathButton", "edPath", 425, 2, 20, 17},
    {"tcMain", "frmMain", 10, 80, 444, 286},
    {"StatusBar", "frmMain", 4, 374, 459, 23},
    {"TaskSheet", "tcMain", 0, 23, 444, 263},
    {"OptionsSheet", "tcMain", 0, 23, 444, 263},
    {"PresetSheet", "tcMain", 0, 23, 444, 263},
    {"edFormat", "OptionsSheet", 8, 24, 225, 21},
    {"edExample", "OptionsSheet", 240, 24, 193, 21},
    {"TaskGrid", "TaskSheet", 8, 8, 427, 214},
    {"btnAnalyze", "TaskSheet", 281, 229, 75, 25},
    {"btnReset", "TaskSheet", 361, 229, 75, 25},
    {"btnAddTask", "TaskSheet", 8, 229, 75, 25},
    {"btnDelTask", "TaskSheet", 88, 229, 75, 25},
    {"lbPresets", "PresetSheet", 8, 8, 155, 215},
    {"btnAddPreset", "PresetSheet", 8, 229, 75, 25},
    {"btnDelPreset", "PresetSheet", 88, 229, 75, 25},
    {"pnPreset", "PresetSheet", 168, 8, 267, 215},
    {"btnClear", "PresetSheet", 361, 229, 75, 25},
    {"edName", "pnPreset", 8, 24, 249, 21},
    {"spinMin", "pnPreset", 8, 184, 73, 21},
    {"spinMax", "pnPreset", 88, 184, 73, 21},
};

const LabelPlace kLabels[] = {
    {"lbFilename", "frmMain", 9, 34, 45, 13, "Filename:"},
    {"lbFormat", "OptionsSheet", 8, 8, 79, 13, "Result formating:"},
    {"lbParameters", "OptionsSheet", 8, 53, 225, 13,
     "Parameters: Key, Filesize length, Position, String"},
    {"lbExample", "OptionsSheet", 240, 8, 43, 13, "Example:"},
};

QWidget* Named(QWidget* root, const char* name) {
  if (root->objectName() == name) return root;
  return root->findChild<QWidget*>(name);
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> exe_dir_;
  std::unique_ptr<TfrmMain> window_;
  QStringList boxes_;

  template <typename T>
  T* Find(const char* name) {
    T* widget = window_->findChild<T*>(name);
    if (widget == nullptr) qWarning("no control named %s", name);
    return widget;
  }

 private slots:
  void initTestCase() {
    veskor::ApplyLook(*qApp);
    veskor::SetMessageBoxSeamForTesting([this](bool, const QString& text) { boxes_ << text; });
  }
  void cleanupTestCase() { veskor::SetMessageBoxSeamForTesting(nullptr); }

  void init() {
    // The program files come from an empty folder of the test's own.
    exe_dir_ = std::make_unique<QTemporaryDir>();
    window_ = std::make_unique<TfrmMain>(nullptr, exe_dir_->path());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get(), 60000));
  }
  void cleanup() {
    window_.reset();
    QCOMPARE(boxes_, QStringList());
  }

  void ControlsSitAtTheirPlaces() {
    for (const Place& p : kPlaces) {
      QWidget* widget = Named(window_.get(), p.name);
      QVERIFY2(widget != nullptr, p.name);
      QWidget* ancestor = Named(window_.get(), p.ancestor);
      QVERIFY2(ancestor != nullptr && ancestor->isAncestorOf(widget), p.name);
      const QRect place(widget->mapTo(ancestor, QPoint(0, 0)), widget->size());
      QVERIFY2(place == QRect(p.x, p.y, p.w, p.h), qPrintable(QString("%1 at %2,%3 %4x%5")
                                                                  .arg(p.name)
                                                                  .arg(place.x())
                                                                  .arg(place.y())
                                                                  .arg(place.width())
                                                                  .arg(place.height())));
    }
  }

  void LabelsSitAtTheirPlacesAndShowTheirWholeCaption() {
    for (const LabelPlace& p : kLabels) {
      auto* label = qobject_cast<QLabel*>(Named(window_.get(), p.name));
      QVERIFY2(label != nullptr, p.name);
      QWidget* ancestor = Named(window_.get(), p.ancestor);
      QVERIFY2(ancestor != nullptr && ancestor->isAncestorOf(label), p.name);
      QCOMPARE(label->mapTo(ancestor, QPoint(0, 0)), QPoint(p.x, p.y));
      QCOMPARE(label->height(), p.h);
      QVERIFY2(label->width() >= p.w, p.name);
      QCOMPARE(label->text(), QString(p.caption));
      QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(label->text()), p.name);
    }
  }

  void PathButtonLeavesTheTextRoom() {
    auto* path = Find<QLineEdit>("edPath");
    auto* button = Find<QAbstractButton>("edPathButton");
    QVERIFY(path && button);
    QCOMPARE(button->parentWidget(), path);
    QVERIFY(path->textMargins().right() >= button->width());
    QCOMPARE(button->focusPolicy(), Qt::NoFocus);
  }

  void WindowIsFixedCentredAndCannotBeMaximised() {
    QCOMPARE(window_->objectName(), QString("frmMain"));
    QCOMPARE(window_->windowTitle(), QString("Veskor"));
    QCOMPARE(window_->size(), QSize(467, 401));
    QCOMPARE(window_->minimumSize(), QSize(467, 401));
    QCOMPARE(window_->maximumSize(), QSize(467, 401));
    const Qt::WindowFlags flags = window_->windowFlags();
    QVERIFY(flags.testFlag(Qt::Window));
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    const QPoint screen_centre = window_->screen()->availableGeometry().center();
    const QPoint centre = window_->frameGeometry().center();
    QVERIFY2((centre - screen_centre).manhattanLength() <= 2,
             qPrintable(QString("centre %1,%2").arg(centre.x()).arg(centre.y())));
    QVERIFY(!window_->findChild<QStatusBar*>("StatusBar")->isSizeGripEnabled());
  }

  void FirstShowIsThePresetsPageWithNothingLoaded() {
    auto* tabs = Find<QTabWidget>("tcMain");
    QVERIFY(tabs);
    QCOMPARE(tabs->currentIndex(), veskor::kTabPreset);
    QCOMPARE(tabs->currentWidget()->objectName(), QString("PresetSheet"));
    QCOMPARE(tabs->widget(veskor::kTabTask)->objectName(), QString("TaskSheet"));
    QCOMPARE(tabs->widget(veskor::kTabOptions)->objectName(), QString("OptionsSheet"));
    QCOMPARE(Find<QLineEdit>("edPath")->text(), QString());
    QVERIFY(!Find<QAbstractButton>("btnAnalyze")->isEnabled());
    // Start-up in an empty folder leaves the four default tasks.
    QCOMPARE(window_->tasks().RowCount(), 4);
    QCOMPARE(Find<QAbstractItemView>("TaskGrid")->model()->rowCount(), 4);
    QCOMPARE(window_->presets().Count(), 0);
    QCOMPARE(Find<QAbstractItemView>("lbPresets")->model()->rowCount(), 0);
    QCOMPARE(Find<QLineEdit>("edFormat")->text(), QString("%3d | %*d | %s"));
    QCOMPARE(Find<QLineEdit>("edExample")->text(),
             veskor::From1251(*veskor::FormatPreview(veskor::kDefaultReportFormat)));
    QVERIFY(Find<QLineEdit>("edExample")->isReadOnly());
    QCOMPARE(Find<QLineEdit>("spinMin")->text(), QString("7"));
    QCOMPARE(Find<QLineEdit>("spinMax")->text(), QString("0"));
  }

  void PreviewFollowsTheTypedFormat() {
    window_->edFormatChange();
    auto* format = Find<QLineEdit>("edFormat");
    auto* example = Find<QLineEdit>("edExample");
    QCOMPARE(example->text(), QString("122 |  15409 | examplestr"));

    const struct {
      const char* typed;
      const char* shown;
    } cases[] = {
        {"%s", "{ incorrect format }"},
        {"%x", "7A"},
        {"", ""},
        {"%%", "%"},
        {"abc%5", "abc"},
        {"%.5d", "00122"},
        {"%3:s %0:d", "examplestr 122"},
        {"%1:-5d|", "6    |"},
        {"%4:q", "{ incorrect format }"},
        {"%3d | %*d | %s", "122 |  15409 | examplestr"},
    };
    for (const auto& c : cases) {
      format->clear();
      QCOMPARE(example->text(), QString());  // the empty format previews as an empty line
      QTest::keyClicks(format, c.typed);
      QVERIFY2(example->text() == QString(c.shown), c.typed);
    }
  }

  void PreviewConvertsToAndFromEightBitText() {
    auto* format = Find<QLineEdit>("edFormat");
    auto* example = Find<QLineEdit>("edExample");
    format->setText(QString::fromUtf8("Ключ %d: %3:s"));
    QCOMPARE(example->text(), QString::fromUtf8("Ключ 122: examplestr"));
    format->setText(QString::fromUtf8("中 %x"));  // no 8-bit form: becomes "?"
    QCOMPARE(example->text(), QString("? 7A"));
  }

  void CaptionsOfTabsButtonsAndStatusBar() {
    auto* tabs = Find<QTabWidget>("tcMain");
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->tabText(veskor::kTabTask), QString("Tasks"));
    QCOMPARE(tabs->tabText(veskor::kTabOptions), QString("Options"));
    QCOMPARE(tabs->tabText(veskor::kTabPreset), QString("Presets"));

    const struct {
      const char* name;
      const char* caption;
    } buttons[] = {{"edPathButton", "..."},
                   {"btnAnalyze", "Analyze"},
                   {"btnReset", "Reset"},
                   {"btnAddTask", "Add task"},
                   {"btnDelTask", "Delete task"},
                   {"btnAddPreset", "Add preset"},
                   {"btnDelPreset", "Delete preset"},
                   {"btnClear", "Clear presets"}};
    for (const auto& b : buttons) {
      auto* button = Find<QAbstractButton>(b.name);
      QVERIFY2(button != nullptr, b.name);
      QCOMPARE(button->text(), QString(b.caption));
      QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) <= button->width(), b.name);
    }

    auto* bar = Find<QStatusBar>("StatusBar");
    auto* info = Find<QLabel>("lbInfo");
    auto* version = Find<QLabel>("lbVersion");
    auto* spacer = Find<QWidget>("StatusSpacer");
    QVERIFY(bar && info && version && spacer);
    QVERIFY(bar->isAncestorOf(info) && bar->isAncestorOf(version) && bar->isAncestorOf(spacer));
    QVERIFY(!info->text().isEmpty());
    QVERIFY(info->width() >= info->fontMetrics().horizontalAdvance(info->text()));
    QCOMPARE(info->palette().color(QPalette::WindowText), QColor(128, 128, 128));
    QCOMPARE(Find<QLabel>("lbParameters")->palette().color(QPalette::WindowText),
             QColor(128, 128, 128));
    QCOMPARE(version->text(), QString("Version: 1.1"));
    QCOMPARE(spacer->width(), 114);
    // Left to right: credit, spacer, version at the right end of the bar.
    QVERIFY(info->geometry().right() < spacer->geometry().left());
    QVERIFY(spacer->geometry().right() < version->geometry().left());
    QVERIFY(bar->width() - version->geometry().right() <= 8);
    QVERIFY(version->width() >= version->fontMetrics().horizontalAdvance(version->text()));
  }

  // The Presets page feeds the Preset drop-down, and "Add task" takes the first preset's name.
  void PagesAreConnectedThroughThePresetList() {
    auto* task_page = window_->findChild<veskor::TaskPage*>("TaskSheet");
    QVERIFY(task_page);
    QVERIFY(task_page->delegate()->preset_choices().isEmpty());
    QTest::mouseClick(Find<QAbstractButton>("btnAddPreset"), Qt::LeftButton);
    QTest::mouseClick(Find<QAbstractButton>("btnAddPreset"), Qt::LeftButton);
    QCOMPARE(window_->presets().Count(), 2);
    auto* name = Find<QLineEdit>("edName");
    name->selectAll();
    QTest::keyClicks(name, "Latin");
    const QStringList expected = {veskor::From1251(window_->presets().PresetName(0)),
                                  veskor::From1251(window_->presets().PresetName(1))};
    QVERIFY(expected.contains("Latin"));
    QCOMPARE(task_page->delegate()->preset_choices(), expected);

    Find<QTabWidget>("tcMain")->setCurrentIndex(veskor::kTabTask);
    QTest::mouseClick(Find<QAbstractButton>("btnAddTask"), Qt::LeftButton);
    QCOMPARE(window_->tasks().RowCount(), 5);
    QCOMPARE(veskor::FromU16(window_->tasks().Text(veskor::NxPresetColumn, 4)), expected[0]);
  }

  void TabOrderRunsFromThePathIntoThePages() {
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get(), 60000));
    auto* path = Find<QLineEdit>("edPath");
    path->setFocus();
    QTest::keyClick(path, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), Find<QTabWidget>("tcMain")->tabBar());

    Find<QTabWidget>("tcMain")->setCurrentIndex(veskor::kTabOptions);
    auto* format = Find<QLineEdit>("edFormat");
    format->setFocus();
    QTest::keyClick(format, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), Find<QWidget>("edExample"));
  }

  void LookIsFusionWithTheDesignFont() {
    // Fusion, under the proxy that draws its header arrows.
    const auto* look = qobject_cast<const QProxyStyle*>(QApplication::style());
    QVERIFY(look != nullptr);
    QCOMPARE(look->baseStyle()->name().toLower(), QString("fusion"));
    QCOMPARE(QApplication::applicationDisplayName(), QString("Veskor"));
    QCOMPARE(QApplication::applicationName(), QString("Veskor"));
    const QFont font = Find<QLineEdit>("edFormat")->font();
    QCOMPARE(font.family(), QString("DejaVu Sans"));
    QCOMPARE(font.pixelSize(), 11);
    QVERIFY(!QApplication::windowIcon().isNull());
  }

  // Pictures of the three pages for a look at the layout; only when asked for.
  void SavesPagePicturesWhenAsked() {
    const QString folder = qEnvironmentVariable("VESKOR_SCREENSHOT_DIR");
    if (folder.isEmpty()) QSKIP("VESKOR_SCREENSHOT_DIR is not set");
    QVERIFY(QDir().mkpath(folder));
    auto* tabs = Find<QTabWidget>("tcMain");
    const struct {
      int tab;
      const char* file;
    } pages[] = {{veskor::kTabPreset, "frmMain_presets.png"},
                 {veskor::kTabTask, "frmMain_tasks.png"},
                 {veskor::kTabOptions, "frmMain_options.png"}};
    for (const auto& page : pages) {
      tabs->setCurrentIndex(page.tab);
      window_->edFormatChange();
      QVERIFY(window_->grab().save(QDir(folder).filePath(page.file)));
    }
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
