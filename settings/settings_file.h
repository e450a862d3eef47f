// config.ini: the one setting of the program, the log line format, in section Config under the
// key FormatStr.
#pragma once

#include <string>
#include <string_view>

namespace veskor {

inline constexpr std::string_view kSettingsFileName = "config.ini";
inline constexpr std::string_view kSettingsSection = "Config", kFormatKey = "FormatStr";
inline constexpr std::string_view kUnableToWriteMessage = "Unable to write to %s";

// The format as 8-bit text: the entry (read by ReadIniEntry's rules), or kDefaultReportFormat
// when the file, the section or the key is missing or the file cannot be read; never fails.
std::string LoadSettings(const std::string& path);

// Writes the format unchanged (empty and invalid formats too), keeping the rest of the file;
// raises Error("Unable to write to <path>") on any failure (the path embedded as is), leaving
// the earlier file whole.
void SaveSettings(const std::string& path, std::string_view format);

}  // namespace veskor
