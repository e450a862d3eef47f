// Loading and saving the log line format in config.ini.
#include "settings/settings_file.h"

#include <exception>

#include "report/report_format.h"
#include "settings/ini_file.h"
#include "text/error.h"

namespace veskor {

std::string LoadSettings(const std::string& path) {
  try {
    return ReadIniEntry(path, kSettingsSection, kFormatKey, kDefaultReportFormat);
  } catch (const std::exception&) {
    // Start-up goes on with the default whatever happened to the file (even a file too large
    // to hold in memory).
    return std::string(kDefaultReportFormat);
  }
}

void SaveSettings(const std::string& path, std::string_view format) {
  try {
    WriteIniEntry(path, kSettingsSection, kFormatKey, format);
  } catch (const std::exception&) {
    // The cause (no right to write, a read-only file, a full disk) is not part of the message.
    throw Error(Substitute(kUnableToWriteMessage, path));
  }
}

}  // namespace veskor
