// The Presets page driven as the user drives it: add, rename, delete, clear, the spin fields'
// Enter and range rules, the 8-bit memos and their limit, selection, tab order and geometry.
#include "ui/preset_page.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>
#include <algorithm>
#include <iterator>
#include <memory>

#include "presets/preset.h"
#include "ui/byte_memo.h"
#include "ui/error_box.h"
#include "ui/look.h"
#include "ui/qt_text.h"
#include "ui/spin_field.h"

using veskor::ByteMemo;
using veskor::PresetList;
using veskor::PresetPage;
using veskor::SpinField;
using veskor::TPreset;
using Choices = std::vector<std::string>;

namespace {

TPreset MakePreset(const char* name, int min_length, int max_length) {
  TPreset preset = veskor::NewPreset();
  veskor::SetShortString(preset.Name, name);
  preset.MinLength = static_cast<uint8_t>(min_length);
  preset.MaxLength = static_cast<uint8_t>(max_length);
  return preset;
}

std::string Name(const PresetList& presets, int index) {
  return std::string(veskor::ShortString(presets.At(index).Name));
}

}  // namespace

class PresetPageTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<PresetList> presets_;
  std::unique_ptr<PresetPage> page_;
  std::vector<Choices> choices_;  // every list of choices the page handed over
  QStringList boxes_;

  template <typename T>
  T* Find(const char* name) {
    T* widget = page_->findChild<T*>(name);
    if (widget == nullptr) qWarning("no control named %s", name);
    return widget;
  }
  QListWidget* List() { return Find<QListWidget>("lbPresets"); }
  QLineEdit* NameField() { return Find<QLineEdit>("edName"); }
  ByteMemo* Alphabet() { return Find<ByteMemo>("mmAlphabet"); }
  ByteMemo* RegExp() { return Find<ByteMemo>("mmRegExp"); }
  SpinField* Min() { return Find<SpinField>("spinMin"); }
  SpinField* Max() { return Find<SpinField>("spinMax"); }
  void Click(const char* button) { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }

  int Selected() {
    const QList<QListWidgetItem*> items = List()->selectedItems();
    return items.isEmpty() ? -1 : List()->row(items.front());
  }
  QStringList Items() {
    QStringList items;
    for (int i = 0; i < List()->count(); ++i) items << List()->item(i)->text();
    return items;
  }
  // The five fields, compared as one line: name | alphabet | regexp | min | max.
  QString Fields() {
    return QString("%1|%2|%3|%4|%5")
        .arg(NameField()->text(), QString::fromStdString(Alphabet()->Bytes()),
             QString::fromStdString(RegExp()->Bytes()))
        .arg(Min()->Value())
        .arg(Max()->Value());
  }
  // Key presses carrying each character of `text` (QTest::keyClicks knows only Latin-1).
  static void Type(QWidget* field, const QString& text) {
    for (const QChar c : text) {
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
      QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(field, &press);
      QApplication::sendEvent(field, &release);
    }
  }
  void TypeInto(QWidget* field, const QString& text) {
    field->setFocus();
    Type(field, text);
  }
  // Replaces the spin field's text as the user does (select all, type), without Enter.
  void TypeSpin(SpinField* spin, const QString& text) {
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, text);
  }

 private slots:
  void initTestCase() {
    veskor::ApplyLook(*qApp);
    veskor::SetMessageBoxSeamForTesting([this](bool, const QString& text) { boxes_ << text; });
  }
  void cleanupTestCase() { veskor::SetMessageBoxSeamForTesting(nullptr); }

  void init() {
    page_.reset();  // the page refers to the list: it goes first
    presets_ = std::make_unique<PresetList>();
    page_ = std::make_unique<PresetPage>(*presets_);
    page_->SetChoicesHandler([this](const Choices& choices) { choices_.push_back(choices); });
    choices_.clear();
    page_->show();
    QVERIFY(QTest::qWaitForWindowExposed(page_.get(), 60000));
  }
  void cleanup() {
    page_.reset();
    presets_.reset();
    QCOMPARE(boxes_, QStringList());
  }

  void ControlsSitAtTheirPlaces() {
    const struct {
      const char* name;
      const char* parent;
      int x, y, w, h;
      const char* caption;
    } places[] = {
        {"lbPresets", "PresetSheet", 8, 8, 155, 215, nullptr},
        {"btnAddPreset", "PresetSheet", 8, 229, 75, 25, "Add preset"},
        {"btnDelPreset", "PresetSheet", 88, 229, 75, 25, "Delete preset"},
        {"pnPreset", "PresetSheet", 168, 8, 267, 215, nullptr},
        {"btnClear", "PresetSheet", 361, 229, 75, 25, "Clear presets"},
        {"edName", "pnPreset", 8, 24, 249, 21, nullptr},
        {"mmAlphabet", "pnPreset", 8, 72, 249, 33, nullptr},
        {"mmRegExp", "pnPreset", 8, 128, 249, 33, nullptr},
        {"spinMin", "pnPreset", 8, 184, 73, 21, nullptr},
        {"spinMax", "pnPreset", 88, 184, 73, 21, nullptr},
    };
    QCOMPARE(page_->objectName(), QString("PresetSheet"));
    QCOMPARE(page_->size(), QSize(444, 263));
    for (const auto& p : places) {
      QWidget* widget = Find<QWidget>(p.name);
      QVERIFY2(widget != nullptr, p.name);
      QCOMPARE(widget->parentWidget()->objectName(), QString(p.parent));
      QCOMPARE(widget->geometry(), QRect(p.x, p.y, p.w, p.h));
      if (auto* button = qobject_cast<QPushButton*>(widget)) {
        QCOMPARE(button->text(), QString(p.caption));
        QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) <= button->width() - 6,
                 p.name);
      }
    }
    // The labels start at their places, are never narrower than their captions and do not
    // run into the next control on their line.
    const struct {
      const char* caption;
      int x, y, w;
      int next;  // where the next control on the line begins
    } labels[] = {{"Preset name:", 8, 8, 62, 267},
                  {"Preset alphabet:", 8, 56, 77, 267},
                  {"Preset RegExp:", 8, 112, 74, 267},
                  {"Minimal length:", 8, 168, 70, 88},
                  {"Maximal length:", 88, 168, 73, 267}};
    const QList<QLabel*> found = Find<QWidget>("pnPreset")->findChildren<QLabel*>();
    QCOMPARE(found.size(), qsizetype{std::size(labels)});
    for (const auto& l : labels) {
      const auto label = std::find_if(found.begin(), found.end(),
                                      [&](QLabel* q) { return q->text() == l.caption; });
      QVERIFY2(label != found.end(), l.caption);
      QCOMPARE((*label)->pos(), QPoint(l.x, l.y));
      QCOMPARE((*label)->height(), 13);
      QVERIFY((*label)->width() >= l.w);
      QVERIFY((*label)->width() >= (*label)->fontMetrics().horizontalAdvance(l.caption));
      QVERIFY2((*label)->x() + (*label)->fontMetrics().horizontalAdvance(l.caption) < l.next,
               l.caption);
    }
    // "Clear presets" (Delphi-style right-bottom anchor) and the Add/Delete buttons follow a
    // page that is made larger.
    page_->resize(464, 283);
    QCOMPARE(Find<QWidget>("btnClear")->pos(), QPoint(381, 249));
    QCOMPARE(Find<QWidget>("btnDelPreset")->pos(), QPoint(88, 249));
    QCOMPARE(Find<QWidget>("lbPresets")->pos(), QPoint(8, 8));
  }

  void FieldsHaveTheirFramesButtonsAndLimits() {
    for (ByteMemo* memo : {Alphabet(), RegExp()}) {
      QCOMPARE(memo->frameWidth(), 2);
      QCOMPARE(memo->contentsRect().size(), QSize(245, 29));
      QVERIFY(memo->verticalScrollBar()->isVisible());
      QVERIFY(memo->tabChangesFocus());
    }
    const struct {
      SpinField* spin;
      int minimum, maximum, value;
    } spins[] = {{Min(), 5, 255, 7}, {Max(), 0, 100, 0}};
    for (const auto& s : spins) {
      QCOMPARE(s.spin->Minimum(), s.minimum);
      QCOMPARE(s.spin->Maximum(), s.maximum);
      QCOMPARE(s.spin->Value(), s.value);
      QCOMPARE(s.spin->text(), QString::number(s.value));
      QVERIFY(s.spin->alignment() & Qt::AlignRight);
      for (QAbstractButton* b : {s.spin->UpButton(), s.spin->DownButton()}) {
        QCOMPARE(b->width(), SpinField::kButtonWidth);
        QVERIFY(b->geometry().right() >= s.spin->width() - 4);  // inside the right end's frame
        QVERIFY(b->geometry().right() < s.spin->width());
      }
      QVERIFY(s.spin->UpButton()->geometry().bottom() < s.spin->DownButton()->geometry().top());
      QVERIFY(s.spin->textMargins().right() >= SpinField::kButtonWidth);
    }
    presets_->AddPreset();
    page_->RefreshPresets();
    QCOMPARE(List()->visualItemRect(List()->item(0)).height(), 16);
    QCOMPARE(List()->selectionMode(), QAbstractItemView::SingleSelection);
  }

  void StartsEmptyWithTheInitialValues() {
    QCOMPARE(List()->count(), 0);
    QCOMPARE(Fields(), QString("|||7|0"));
    QCOMPARE(page_->guard(), 0);
    QCOMPARE(Selected(), -1);
  }

  void AddShowsTheNewPresetAndKeepsTheEarlierOne() {
    Click("btnAddPreset");
    QCOMPARE(Items(), QStringList{"Noname"});
    QCOMPARE(Selected(), 0);
    QCOMPARE(Fields(), QString("Noname|1234567890||7|0"));
    QCOMPARE(choices_.back(), Choices{"Noname"});

    TypeInto(NameField(), "A");
    Click("btnAddPreset");
    QCOMPARE(Items(), (QStringList{"NonameA", "Noname"}));
    QCOMPARE(Selected(), 1);
    QCOMPARE(Fields(), QString("Noname|1234567890||7|0"));
    QCOMPARE(Name(*presets_, 0), "NonameA");
    QCOMPARE(choices_.back(), (Choices{"NonameA", "Noname"}));
    QCOMPARE(page_->guard(), 0);
  }

  void TypingANameRenamesAtEveryKeystroke() {
    Click("btnAddPreset");
    Click("btnAddPreset");
    List()->setCurrentRow(0);  // user selection through the view
    QCOMPARE(NameField()->text(), QString("Noname"));
    NameField()->setFocus();
    NameField()->setCursorPosition(2);
    const QString typed = QString::fromUtf8("Жx");
    QString expected = "Noname";
    for (int i = 0; i < typed.size(); ++i) {
      const size_t before = choices_.size();
      Type(NameField(), typed.mid(i, 1));
      expected.insert(2 + i, typed[i]);
      QCOMPARE(NameField()->text(), expected);
      QCOMPARE(Items(), (QStringList{expected, "Noname"}));
      QCOMPARE(Selected(), 0);
      QCOMPARE(NameField()->cursorPosition(), 3 + i);
      QCOMPARE(choices_.size(), before + 1);
      QCOMPARE(choices_.back(), (Choices{veskor::To1251(expected), "Noname"}));
      QCOMPARE(page_->guard(), 0);
    }
    QCOMPARE(Name(*presets_, 0), "No\xC6xname");
    // A character Windows-1251 lacks is stored as '?', and the list shows what is stored.
    Type(NameField(), QString::fromUtf8("中"));
    QCOMPARE(Name(*presets_, 0), "No\xC6x?name");
    QCOMPARE(List()->item(0)->text(), QString::fromUtf8("NoЖx?name"));
  }

  void DeleteAndClearLeaveTheRightSelection() {
    // Delete with an empty list: nothing at all happens.
    TypeInto(NameField(), "typed");
    Click("btnDelPreset");
    QVERIFY(choices_.empty());
    QCOMPARE(NameField()->text(), QString("typed"));

    // Delete the only preset: no selection, cleared fields.
    Click("btnAddPreset");
    Min()->SetValue(9);
    Click("btnDelPreset");
    QCOMPARE(presets_->Count(), 0);
    QCOMPARE(Selected(), -1);
    QCOMPARE(Fields(), QString("|||7|0"));
    QCOMPARE(choices_.back(), Choices{});

    // Delete the second of three: the first is selected and shown.
    for (int i = 0; i < 3; ++i) presets_->Append(MakePreset(std::to_string(i).c_str(), 10 + i, 0));
    presets_->AnnounceChange();
    List()->setCurrentRow(1);
    Click("btnDelPreset");
    QCOMPARE(Items(), (QStringList{"0", "2"}));
    QCOMPARE(Selected(), 0);
    QCOMPARE(Fields(), QString("0|1234567890||10|0"));

    // Clear with presets: list, fields and choices empty.
    Click("btnClear");
    QCOMPARE(presets_->Count(), 0);
    QCOMPARE(Items(), QStringList());
    QCOMPARE(Fields(), QString("|||7|0"));
    QCOMPARE(choices_.back(), Choices{});

    // Clear with none: typed text stays and no refresh happens.
    TypeInto(NameField(), "kept");
    TypeInto(Alphabet(), "abc");
    const size_t refreshes = choices_.size();
    Click("btnClear");
    QCOMPARE(choices_.size(), refreshes);
    QCOMPARE(Fields(), QString("kept|abc||7|0"));
  }

  // A length outside its field's range is not shown, and a change elsewhere does not overwrite
  // it; only setting that field does.
  void LengthOutsideTheRangeIsKeptUntilTheFieldIsSet() {
    const struct {
      const char* field;
      int min_length, max_length;
      int shown;      // the field keeps the number of the preset shown before
      bool by_enter;  // the user sets the field by Enter on the shown number, else by Up
      int stored_after;
    } cases[] = {
        {"spinMin", 3, 0, 9, false, 10},   {"spinMin", 3, 0, 9, true, 9},
        {"spinMin", 4, 20, 9, false, 10},  {"spinMax", 9, 150, 20, false, 21},
        {"spinMax", 9, 150, 20, true, 20}, {"spinMax", 9, 101, 20, false, 21},
    };
    for (const auto& c : cases) {
      init();
      presets_->Append(MakePreset("first", 9, 20));
      presets_->Append(MakePreset("odd", c.min_length, c.max_length));
      presets_->AnnounceChange();  // as after loading presets.dat
      QCOMPARE(Selected(), 0);
      QTest::mouseClick(List()->viewport(), Qt::LeftButton, {},
                        List()->visualItemRect(List()->item(1)).center());
      QCOMPARE(Selected(), 1);
      auto* spin = Find<SpinField>(c.field);
      QCOMPARE(spin->Value(), c.shown);
      QCOMPARE(spin->text(), QString::number(c.shown));

      TypeInto(NameField(), "!");
      TypeInto(Alphabet(), "z");
      QCOMPARE(Name(*presets_, 1), "odd!");
      QCOMPARE(int{presets_->At(1).MinLength}, c.min_length);
      QCOMPARE(int{presets_->At(1).MaxLength}, c.max_length);

      spin->setFocus();
      if (c.by_enter) {
        QTest::keyClick(spin, Qt::Key_Return);
      } else {
        QTest::keyClick(spin, Qt::Key_Up);
      }
      const TPreset& stored = presets_->At(1);
      QCOMPARE(int{c.field == std::string("spinMin") ? stored.MinLength : stored.MaxLength},
               c.stored_after);
      cleanup();
    }
  }

  void ProgramValuesOutsideTheRangeAreRefused() {
    const struct {
      const char* field;
      int value;
      bool taken;
    } cases[] = {{"spinMin", 4, false},  {"spinMin", 256, false}, {"spinMin", 5, true},
                 {"spinMin", 255, true}, {"spinMax", 150, false}, {"spinMax", -1, false},
                 {"spinMax", 100, true}};
    for (const auto& c : cases) {
      auto* spin = Find<SpinField>(c.field);
      const int before = spin->Value();
      QSignalSpy changed(spin, &SpinField::ValueChanged);
      QCOMPARE(spin->SetValue(c.value), c.taken);
      QCOMPARE(spin->Value(), c.taken ? c.value : before);
      QCOMPARE(spin->text(), QString::number(spin->Value()));
      QCOMPARE(changed.size(), c.taken && c.value != before ? 1 : 0);
    }
  }

  void SpinTakesTypedDigitsOnlyOnEnter() {
    Click("btnAddPreset");
    auto min_length = [&] { return int{presets_->At(0).MinLength}; };

    const struct {
      const char* typed;
      int value;
    } refused[] = {{"300", 7}, {"4", 7}, {"abc", 7}, {"12a", 7}, {"", 7}, {"-7", 7}};
    for (const auto& r : refused) {
      TypeSpin(Min(), r.typed);
      QTest::keyClick(Min(), Qt::Key_Return);
      QCOMPARE(Min()->Value(), r.value);
      QCOMPARE(Min()->text(), QString::number(r.value));
      QCOMPARE(min_length(), r.value);
    }

    // Typed without Enter: neither the value nor the preset changes, even when another field
    // stores the preset meanwhile, and the field shows its value again once left.
    TypeSpin(Min(), "50");
    QCOMPARE(Min()->Value(), 7);
    TypeInto(NameField(), "x");
    QCOMPARE(Name(*presets_, 0), "Nonamex");
    QCOMPARE(min_length(), 7);
    QCOMPARE(Min()->text(), QString("7"));
    TypeSpin(Min(), "50");
    QTest::keyClick(Min(), Qt::Key_Enter);
    QCOMPARE(Min()->Value(), 50);
    QCOMPARE(min_length(), 50);

    // A step starts from the value, not from the typed text.
    TypeSpin(Min(), "90");
    QTest::keyClick(Min(), Qt::Key_Up);
    QCOMPARE(Min()->Value(), 51);
    QCOMPARE(Min()->text(), QString("51"));
    QCOMPARE(min_length(), 51);
    QTest::mouseClick(Min()->DownButton(), Qt::LeftButton);
    QTest::mouseClick(Min()->DownButton(), Qt::LeftButton);
    QCOMPARE(min_length(), 49);

    // Steps beyond either end are refused.
    const struct {
      SpinField* spin;
      const char* end;
      Qt::Key key;
    } ends[] = {{Min(), "5", Qt::Key_Down},
                {Min(), "255", Qt::Key_Up},
                {Max(), "0", Qt::Key_Down},
                {Max(), "100", Qt::Key_Up}};
    for (const auto& e : ends) {
      TypeSpin(e.spin, e.end);
      QTest::keyClick(e.spin, Qt::Key_Return);
      QTest::keyClick(e.spin, e.key);
      QCOMPARE(e.spin->text(), QString(e.end));
      QCOMPARE(int{e.spin == Min() ? presets_->At(0).MinLength : presets_->At(0).MaxLength},
               QString(e.end).toInt());
    }
  }

  void LeavingASpinFieldDropsDigitsThatEnterDidNotTake() {
    page_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(page_.get(), 60000));
    Click("btnAddPreset");
    const struct {
      const char* name;
      std::function<void()> leave;
      const char* shown;
    } cases[] = {
        {"Tab", [&] { QTest::keyClick(Min(), Qt::Key_Tab); }, "7"},
        {"a click on the name", [&] { QTest::mouseClick(NameField(), Qt::LeftButton); }, "7"},
        {"another window", [&] { NameField()->setFocus(Qt::ActiveWindowFocusReason); }, "7"},
        // The field's context menu takes the focus only for a moment.
        {"its context menu",
         [&] {
           QFocusEvent out(QEvent::FocusOut, Qt::PopupFocusReason);
           QApplication::sendEvent(Min(), &out);
         },
         "12"},
    };
    for (const auto& c : cases) {
      TypeSpin(Min(), "12");
      c.leave();
      QVERIFY2(Min()->text() == c.shown, c.name);
      QCOMPARE(Min()->Value(), 7);
      QCOMPARE(int{presets_->At(0).MinLength}, 7);
    }
    // Enter still takes them, and the field keeps showing them after it is left.
    TypeSpin(Min(), "12");
    QTest::keyClick(Min(), Qt::Key_Return);
    QTest::keyClick(Min(), Qt::Key_Tab);
    QCOMPARE(Min()->text(), QString("12"));
    QCOMPARE(int{presets_->At(0).MinLength}, 12);
  }

  void MemosHoldWindows1251TextWithCrLfBreaks() {
    Click("btnAddPreset");
    Alphabet()->setFocus();
    Alphabet()->moveCursor(QTextCursor::End);
    QTest::keyClick(Alphabet(), Qt::Key_Return);
    Type(Alphabet(), QString::fromUtf8("яЁ"));
    QTest::keyClick(Alphabet(), Qt::Key_Enter, Qt::ShiftModifier);
    QCOMPARE(veskor::ShortString(presets_->At(0).Alphabet), "1234567890\r\n\xFF\xA8\r\n");
    RegExp()->setFocus();
    Type(RegExp(), QString::fromUtf8("a中"));
    QCOMPARE(veskor::ShortString(presets_->At(0).RegExp), "a?");

    // Stored bytes come back unchanged, odd line ends and the no-break space included.
    const char* const stored[] = {"a\r\nb", "a\rb",         "a\nb",       "\n\r",
                                  "x\xA0y", "\x98\xC0\xFF", "\t\r\n\r\n", ""};
    for (const char* bytes : stored) {
      ByteMemo memo;
      memo.SetBytes(bytes);
      QCOMPARE(memo.Bytes(), std::string(bytes));
    }
    ByteMemo memo;
    memo.SetBytes("a\r\nb\rc");
    QCOMPARE(memo.document()->blockCount(), 2);
    QCOMPARE(memo.toPlainText(), QString::fromUtf8("a\nb\u240Dc"));
  }

  void MemoRefusesThe256thCharacter() {
    const struct {
      int length;  // bytes before the input
      const char* input;
      bool paste;
      int after;
    } cases[] = {
        {254, "a", false, 255},  {255, "a", false, 255},       {253, "\n", false, 255},
        {254, "\n", false, 254}, {250, "abcdefgh", true, 255}, {254, "\nb", true, 254},
        {0, "x\r\ny", true, 4},
    };
    for (const auto& c : cases) {
      ByteMemo memo;
      memo.SetBytes(std::string(c.length, 'm'));
      memo.moveCursor(QTextCursor::End);
      if (c.paste) {
        QApplication::clipboard()->setText(c.input);
        memo.paste();
      } else if (c.input[0] == '\n') {
        QTest::keyClick(&memo, Qt::Key_Return);
      } else {
        QTest::keyClicks(&memo, c.input);
      }
      QCOMPARE(int(memo.Bytes().size()), c.after);
    }
    // With a selection the typed character replaces it, also at the limit.
    ByteMemo memo;
    memo.SetBytes(std::string(255, 'm'));
    memo.selectAll();
    QTest::keyClicks(&memo, "q");
    QCOMPARE(memo.Bytes(), std::string("q"));
  }

  void TwoPresetsMayShareAName() {
    Click("btnAddPreset");
    NameField()->selectAll();
    TypeInto(NameField(), "same");
    Click("btnAddPreset");
    NameField()->selectAll();
    TypeInto(NameField(), "same");
    QCOMPARE(Items(), (QStringList{"same", "same"}));
    QCOMPARE(choices_.back(), (Choices{"same", "same"}));
    QCOMPARE(Selected(), 1);
  }

  void UserSelectionShowsThePresetAndCannotBeRemoved() {
    presets_->Append(MakePreset("one", 11, 1));
    presets_->Append(MakePreset("two", 22, 2));
    presets_->AnnounceChange();
    QCOMPARE(Fields(), QString("one|1234567890||11|1"));
    List()->setFocus();
    QTest::keyClick(List(), Qt::Key_Down);
    QCOMPARE(Selected(), 1);
    QCOMPARE(Fields(), QString("two|1234567890||22|2"));
    // A click below the items and a Ctrl+click on the selected item keep the selection.
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, QPoint(20, 200));
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      List()->visualItemRect(List()->item(1)).center());
    QCOMPARE(Selected(), 1);
    QCOMPARE(Fields(), QString("two|1234567890||22|2"));
  }

  void TabGoesNameAlphabetMinMaxExpression() {
    page_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(page_.get(), 60000));
    const char* order[] = {"lbPresets", "btnAddPreset", "btnDelPreset", "edName",   "mmAlphabet",
                           "spinMin",   "spinMax",      "mmRegExp",     "btnClear", "lbPresets"};
    Find<QWidget>(order[0])->setFocus();
    for (size_t i = 1; i < std::size(order); ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget()->objectName(), QString(order[i]));
    }
  }
};

QTEST_MAIN(PresetPageTest)
#include "preset_page_test.moc"
