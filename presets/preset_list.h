// PresetList: the ordered list that owns every preset while the program runs.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "presets/preset.h"

namespace veskor {

// Indexes run from 0 to Count()-1; names need not be unique. An index outside the list is a
// programming error (std::out_of_range): every caller passes a valid one.
class PresetList {
 public:
  int Count() const { return static_cast<int>(presets_.size()); }
  const TPreset& At(int index) const;
  void Replace(int index, const TPreset& preset);
  // Appends a record exactly as given (the loader's path; no change notice).
  void Append(const TPreset& preset);

  // Appends NewPreset(). Announces nothing: the caller refreshes.
  void AddPreset();
  // Removes the record at `index`; later records move up. Announces nothing.
  void DeletePreset(int index);
  // Empties the list and announces the change; an empty list is left alone, unannounced.
  void ClearPresets();

  // The Name of the record at `index` as 8-bit text; empty text when the list is empty.
  std::string PresetName(int index) const;
  // Copies the first record whose Name equals `name` byte for byte into `destination` and
  // returns true; leaves `destination` untouched and returns false when no name is equal.
  bool FindPreset(std::string_view name, TPreset& destination) const;

  // The change notice: one handler, called by AnnounceChange (nothing happens without one).
  void SetChangeHandler(std::function<void()> handler) { change_handler_ = std::move(handler); }
  void AnnounceChange();

 private:
  void CheckIndex(int index) const;

  std::vector<TPreset> presets_;
  std::function<void()> change_handler_;
};

}  // namespace veskor
