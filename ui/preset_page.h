// PresetPage: the Presets page of the window, the editor of the preset list (the list of names,
// the five fields of the selected preset and the Add, Delete and Clear buttons).
#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "presets/preset_list.h"

class QFrame;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace veskor {

class ByteMemo;
class SpinField;

class PresetPage : public QWidget {
  Q_OBJECT
 public:
  // The page edits `presets` in place and refreshes itself on the list's change notice; the list
  // must outlive the page.
  explicit PresetPage(PresetList& presets, QWidget* parent = nullptr);
  ~PresetPage() override;

  // Receives the task table's preset choices (8-bit names in list order) at every
  // RefreshPresets.
  void SetChoicesHandler(std::function<void(const std::vector<std::string>&)> handler);

  // Fills the fields from the preset at `index`, or clears them (empty, 7, 0) for -1.
  void ShowPreset(int index);
  // Writes the fields into the selected preset and refreshes the list, keeping the selection;
  // does nothing under the guard or without a selection.
  void StorePreset();
  // Rebuilds the list and the choices; outside the guard it then selects and shows the first
  // preset (or clears the fields when there is none).
  void RefreshPresets();

  void lbPresetsClick();
  void btnAddPresetClick();
  void btnDelPresetClick();
  void btnClearClick();
  void edNameChange();
  void mmAlphabetChange();
  void spinMinChange();

  // 1 while ShowPreset fills the fields or StorePreset refreshes the list, else 0.
  int guard() const { return guard_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  int SelectedIndex() const;
  void Select(int index);
  void SpinEdited(SpinField* spin, bool& shows_preset, int value);

  PresetList& presets_;
  std::function<void(const std::vector<std::string>&)> choices_handler_;
  int guard_ = 0;
  // Whether spinMin / spinMax show the selected preset's length. A length outside a field's
  // range (from a presets.dat written elsewhere) cannot be shown, and the field keeps the
  // number it had; StorePreset writes every field on any change, and writing that number would
  // silently change the preset's search when the user only renamed it. So a length is written
  // only from a field that shows it, or that the user has set since.
  bool min_shows_preset_ = true;
  bool max_shows_preset_ = true;

  QListWidget* lbPresets_;
  QPushButton* btnAddPreset_;
  QPushButton* btnDelPreset_;
  QFrame* pnPreset_;
  QPushButton* btnClear_;
  QLineEdit* edName_;
  ByteMemo* mmAlphabet_;
  ByteMemo* mmRegExp_;
  SpinField* spinMin_;
  SpinField* spinMax_;
};

}  // namespace veskor
