// The Presets page: its controls, the editor's show/store/refresh cycle and its handlers.
#include "ui/preset_page.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <algorithm>

#include "presets/preset.h"
#include "ui/byte_memo.h"
#include "ui/error_box.h"
#include "ui/look.h"
#include "ui/qt_text.h"
#include "ui/spin_field.h"

namespace veskor {
namespace {

constexpr int kItemHeight = 16;
constexpr int kLabelRoom = 249;  // a label with nothing beside it may span its field's width
// What the fields show when no preset is selected.
constexpr int kClearedMinLength = 7;
constexpr int kClearedMaxLength = 0;

// Every item one fixed height.
class FixedHeightDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), kItemHeight);
  }
};

// A list box in which the user can move the selection but not remove it: a click beside the
// items or a Ctrl+click on the selected one leaves it as it is.
class PresetListBox : public QListWidget {
 public:
  explicit PresetListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new FixedHeightDelegate(this));
    setUniformItemSizes(true);
  }

 protected:
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                       const QEvent*) const override {
    if (!index.isValid()) return QItemSelectionModel::NoUpdate;
    return QItemSelectionModel::ClearAndSelect;
  }
};

template <typename T>
T* Placed(T* widget, const char* name, int left, int top, int width, int height) {
  if (name) widget->setObjectName(name);
  widget->setGeometry(left, top, width, height);
  return widget;
}

// The design font is narrower than the one that stands in for it. A caption wider than its room
// takes the same family's condensed face, so that it is neither clipped nor runs into its
// neighbour.
void FitCaption(QWidget* widget, const QString& caption, int room) {
  if (widget->fontMetrics().horizontalAdvance(caption) <= room) return;
  QFont font = widget->font();
  font.setStretch(QFont::SemiCondensed);
  widget->setFont(font);
}

QPushButton* AddButton(QWidget* parent, const char* caption, const char* name, int left, int top) {
  auto* button = Placed(new QPushButton(caption, parent), name, left, top, 75, 25);
  FitCaption(button, button->text(), button->width() - 8);  // the style's margins on both sides
  return button;
}

// A label at its place, widened to the right when its caption needs more than the design width,
// up to `room` (where the next control begins).
void AddLabel(QWidget* parent, const char* caption, int left, int top, int width, int room) {
  auto* label = new QLabel(caption, parent);
  FitCaption(label, label->text(), room);
  width = std::max(width, label->fontMetrics().horizontalAdvance(label->text()));
  Placed(label, nullptr, left, top, width, 13);
}

}  // namespace

PresetPage::PresetPage(PresetList& presets, QWidget* parent) : QWidget(parent), presets_(presets) {
  setObjectName("PresetSheet");
  resize(kPageWidth, kPageHeight);

  lbPresets_ = Placed(new PresetListBox(this), "lbPresets", 8, 8, 155, 215);
  btnAddPreset_ = AddButton(this, "Add preset", "btnAddPreset", 8, 229);
  btnDelPreset_ = AddButton(this, "Delete preset", "btnDelPreset", 88, 229);
  pnPreset_ = Placed(new QFrame(this), "pnPreset", 168, 8, 267, 215);
  pnPreset_->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
  btnClear_ = AddButton(this, "Clear presets", "btnClear", 361, 229);

  AddLabel(pnPreset_, "Preset name:", 8, 8, 62, kLabelRoom);
  edName_ = Placed(new QLineEdit(pnPreset_), "edName", 8, 24, 249, 21);
  AddLabel(pnPreset_, "Preset alphabet:", 8, 56, 77, kLabelRoom);
  mmAlphabet_ = Placed(new ByteMemo(pnPreset_), "mmAlphabet", 8, 72, 249, 33);
  AddLabel(pnPreset_, "Preset RegExp:", 8, 112, 74, kLabelRoom);
  mmRegExp_ = Placed(new ByteMemo(pnPreset_), "mmRegExp", 8, 128, 249, 33);
  AddLabel(pnPreset_, "Minimal length:", 8, 168, 70, 88 - 8 - 3);
  spinMin_ = Placed(new SpinField(kMinLengthLow, kMinLengthHigh, kClearedMinLength, pnPreset_),
                    "spinMin", 8, 184, 73, 21);
  AddLabel(pnPreset_, "Maximal length:", 88, 168, 73, kLabelRoom);
  spinMax_ = Placed(new SpinField(kMaxLengthLow, kMaxLengthHigh, kClearedMaxLength, pnPreset_),
                    "spinMax", 88, 184, 73, 21);

  setTabOrder(lbPresets_, btnAddPreset_);
  setTabOrder(btnAddPreset_, btnDelPreset_);
  setTabOrder(btnDelPreset_, edName_);
  setTabOrder(edName_, mmAlphabet_);
  setTabOrder(mmAlphabet_, spinMin_);
  setTabOrder(spinMin_, spinMax_);
  setTabOrder(spinMax_, mmRegExp_);
  setTabOrder(mmRegExp_, btnClear_);

  // Every handler runs through Guarded, which shows an error that ends it.
  const auto handle = [this](void (PresetPage::*handler)()) {
    return [this, handler] { Guarded(this, [this, handler] { (this->*handler)(); }); };
  };
  connect(lbPresets_, &QListWidget::itemSelectionChanged, this,
          handle(&PresetPage::lbPresetsClick));
  connect(btnAddPreset_, &QPushButton::clicked, this, handle(&PresetPage::btnAddPresetClick));
  connect(btnDelPreset_, &QPushButton::clicked, this, handle(&PresetPage::btnDelPresetClick));
  connect(btnClear_, &QPushButton::clicked, this, handle(&PresetPage::btnClearClick));
  connect(edName_, &QLineEdit::textChanged, this, handle(&PresetPage::edNameChange));
  connect(mmAlphabet_, &QPlainTextEdit::textChanged, this, handle(&PresetPage::mmAlphabetChange));
  connect(mmRegExp_, &QPlainTextEdit::textChanged, this, handle(&PresetPage::mmAlphabetChange));
  connect(spinMin_, &SpinField::ValueChanged, this, handle(&PresetPage::spinMinChange));
  connect(spinMax_, &SpinField::ValueChanged, this, handle(&PresetPage::spinMinChange));
  connect(spinMin_, &SpinField::Edited, this,
          [this](int value) { SpinEdited(spinMin_, min_shows_preset_, value); });
  connect(spinMax_, &SpinField::Edited, this,
          [this](int value) { SpinEdited(spinMax_, max_shows_preset_, value); });

  presets_.SetChangeHandler([this] { RefreshPresets(); });
}

PresetPage::~PresetPage() { presets_.SetChangeHandler(nullptr); }

void PresetPage::SetChoicesHandler(std::function<void(const std::vector<std::string>&)> handler) {
  choices_handler_ = std::move(handler);
}

int PresetPage::SelectedIndex() const {
  const QList<QListWidgetItem*> selected = lbPresets_->selectedItems();
  return selected.isEmpty() ? -1 : lbPresets_->row(selected.front());
}

// A selection made by the program, which lbPresetsClick does not hear.
void PresetPage::Select(int index) {
  const QSignalBlocker blocker(lbPresets_);
  if (index >= 0 && index < lbPresets_->count()) {
    lbPresets_->setCurrentRow(index);
  } else {
    lbPresets_->clearSelection();
    lbPresets_->setCurrentRow(-1);
  }
}

void PresetPage::ShowPreset(int index) {
  if (index == -1) {
    // No guard: the change notices reach StorePreset, which finds no selection.
    edName_->setText(QString());
    mmAlphabet_->SetBytes("");
    mmRegExp_->SetBytes("");
    min_shows_preset_ = spinMin_->SetValue(kClearedMinLength);
    max_shows_preset_ = spinMax_->SetValue(kClearedMaxLength);
    return;
  }
  const TPreset preset = presets_.At(index);
  guard_ = 1;
  edName_->setText(FromU16(PresetNameToEditor(preset)));
  mmAlphabet_->SetBytes(ShortString(preset.Alphabet));
  mmRegExp_->SetBytes(ShortString(preset.RegExp));
  min_shows_preset_ = spinMin_->SetValue(preset.MinLength);
  max_shows_preset_ = spinMax_->SetValue(preset.MaxLength);
  guard_ = 0;
}

void PresetPage::StorePreset() {
  if (guard_ == 1) return;
  const int index = SelectedIndex();
  if (index == -1) return;
  // Start from the record: the bytes after each string's characters stay as they are.
  TPreset preset = presets_.At(index);
  SetShortString(preset.Name, PresetNameFromEditor(ToU16(edName_->text())));
  SetShortString(preset.Alphabet, mmAlphabet_->Bytes());
  SetShortString(preset.RegExp, mmRegExp_->Bytes());
  if (min_shows_preset_) preset.MinLength = LengthFromEditor(spinMin_->Value());
  if (max_shows_preset_) preset.MaxLength = LengthFromEditor(spinMax_->Value());
  presets_.Replace(index, preset);
  guard_ = 1;
  RefreshPresets();
  guard_ = 0;
}

void PresetPage::RefreshPresets() {
  const int selected = SelectedIndex();
  const int scrolled = lbPresets_->verticalScrollBar()->value();
  {
    const QSignalBlocker blocker(lbPresets_);
    lbPresets_->clear();
    for (int i = 0; i < presets_.Count(); ++i) {
      lbPresets_->addItem(FromU16(PresetNameToEditor(presets_.At(i))));
    }
  }
  std::vector<std::string> choices;
  choices.reserve(lbPresets_->count());
  for (int i = 0; i < lbPresets_->count(); ++i)
    choices.push_back(To1251(lbPresets_->item(i)->text()));
  if (choices_handler_) choices_handler_(choices);

  if (guard_ != 0) {
    Select(selected);
    // The rebuilt list stays where the user had scrolled it while a name is typed.
    lbPresets_->verticalScrollBar()->setValue(scrolled);
    return;
  }
  Select(0);
  ShowPreset(SelectedIndex());
}

void PresetPage::lbPresetsClick() { ShowPreset(SelectedIndex()); }

void PresetPage::btnAddPresetClick() {
  presets_.AddPreset();
  RefreshPresets();
  Select(presets_.Count() - 1);
  ShowPreset(SelectedIndex());
}

void PresetPage::btnDelPresetClick() {
  const int index = SelectedIndex();
  if (index == -1) return;
  presets_.DeletePreset(index);
  RefreshPresets();
}

void PresetPage::btnClearClick() { presets_.ClearPresets(); }

void PresetPage::edNameChange() { StorePreset(); }
void PresetPage::mmAlphabetChange() { StorePreset(); }
void PresetPage::spinMinChange() { StorePreset(); }

void PresetPage::SpinEdited(SpinField* spin, bool& shows_preset, int value) {
  const bool showed = shows_preset;
  shows_preset = true;
  // The user confirmed the number the field already showed instead of the preset's length: no
  // value change follows, so the length is stored here.
  if (!showed && value == spin->Value()) Guarded(this, [this] { spinMinChange(); });
}

void PresetPage::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The buttons keep their distance from the bottom edge, "Clear presets" also from the right.
  const int top = height() - (kPageHeight - 229);
  btnAddPreset_->move(8, top);
  btnDelPreset_->move(88, top);
  btnClear_->move(width() - (kPageWidth - 361), top);
}

}  // namespace veskor
