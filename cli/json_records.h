// The JSON Lines records of a batch: a ranked key, a rule, a file; each one line ended by LF.
// A string's record is written by cli/string_records.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/yara_rules.h"
#include "engine/carve/carved_file.h"
#include "engine/run/analysis_run.h"

namespace veskor {

// The key records of the rows that scanned their whole input, rows in order, each row's keys
// best first, at most `top` of each (0: all).
std::string KeyRecords(const std::string& file, const std::vector<RowOutcome>& outcomes, int top);

// A rule's record, with --yara among a file's records before its file record.
std::string RuleRecord(const std::string& file, const FileRule& rule);

// A hidden executable written decoded (--carve), among a file's records before its file record.
std::string EmbeddedRecord(const std::string& file, const FoundExecutable& found,
                           const CarvedFile& carved);

struct FileOutcome {
  uint64_t size = 0;
  std::string sha256;  // empty when the file was not read
  const char* status = "done";
  std::string message;  // UTF-8
  std::string reason;   // the system's reason (strerror) beside the message, when there is one
  std::string options;  // what shaped the file's records (RecordOptions), UTF-8
  double seconds = 0;
};

std::string FileRecord(const std::string& file, const FileOutcome& outcome);

}  // namespace veskor
