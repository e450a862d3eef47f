// The preset record's field helpers, defaults and editor conversions.
#include "presets/preset.h"

#include <algorithm>
#include <cstring>

#include "text/cp1251.h"

namespace veskor {

namespace {
constexpr size_t kMaxShortString = 255;
}  // namespace

std::string_view ShortString(const uint8_t (&field)[256]) {
  return std::string_view(reinterpret_cast<const char*>(field + 1), field[0]);
}

void SetShortString(uint8_t (&field)[256], std::string_view text) {
  const size_t length = std::min(text.size(), kMaxShortString);
  field[0] = static_cast<uint8_t>(length);
  if (length > 0) std::memcpy(field + 1, text.data(), length);
}

TPreset NewPreset() {
  TPreset preset{};
  SetShortString(preset.Name, kNewPresetName);
  SetShortString(preset.Alphabet, kNewPresetAlphabet);
  SetShortString(preset.RegExp, "");
  preset.MinLength = kNewPresetMinLength;
  preset.MaxLength = kNewPresetMaxLength;
  return preset;
}

std::u16string PresetNameToEditor(const TPreset& preset) {
  return Cp1251ToUtf16(ShortString(preset.Name));
}

std::string PresetNameFromEditor(std::u16string_view text) {
  std::string name = Utf16ToCp1251(text.substr(0, std::min(text.size(), kMaxShortString)));
  if (name.size() > kMaxShortString) name.resize(kMaxShortString);
  return name;
}

}  // namespace veskor
