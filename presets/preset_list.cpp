// The preset list's operations, its name lookup and its change notice.
#include "presets/preset_list.h"

#include <stdexcept>

namespace veskor {

void PresetList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) {
    throw std::out_of_range("preset index " + std::to_string(index) + " outside the list of " +
                            std::to_string(Count()));
  }
}

const TPreset& PresetList::At(int index) const {
  CheckIndex(index);
  return presets_[index];
}

void PresetList::Replace(int index, const TPreset& preset) {
  CheckIndex(index);
  presets_[index] = preset;
}

void PresetList::Append(const TPreset& preset) { presets_.push_back(preset); }

void PresetList::AddPreset() { presets_.push_back(NewPreset()); }

void PresetList::DeletePreset(int index) {
  CheckIndex(index);
  presets_.erase(presets_.begin() + index);
}

void PresetList::ClearPresets() {
  if (presets_.empty()) return;
  presets_.clear();
  AnnounceChange();
}

std::string PresetList::PresetName(int index) const {
  if (presets_.empty()) return std::string();
  return std::string(ShortString(At(index).Name));
}

bool PresetList::FindPreset(std::string_view name, TPreset& destination) const {
  for (const TPreset& preset : presets_) {
    if (ShortString(preset.Name) == name) {
      destination = preset;
      return true;
    }
  }
  return false;
}

void PresetList::AnnounceChange() {
  if (change_handler_) change_handler_();
}

}  // namespace veskor
