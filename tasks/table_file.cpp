// Writing and reading grid.cfg: the quoting, the byte-order marks and the field parser.
#include "tasks/table_file.h"

#include <cstdint>

#include "files/file_operation_error.h"
#include "files/io_error.h"
#include "files/read_whole_file.h"
#include "files/replace_file.h"

namespace veskor {
namespace {

constexpr char16_t kQuote = u'"';
constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';

void AppendUnit(std::string& bytes, char16_t unit) {
  bytes.push_back(static_cast<char>(unit & 0xFF));
  bytes.push_back(static_cast<char>(unit >> 8));
}

// The characters of the file: UTF-16 after FF FE (little-endian) or FE FF (big-endian), the
// mark skipped and an odd last byte ignored; otherwise each byte is the character of its code.
// A file shorter than a mark holds no rows: a single byte is a stray, not a field.
std::u16string DecodeTableText(std::string_view bytes) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  std::u16string text;
  if (bytes.size() < 2) return text;
  const bool little = byte(0) == 0xFF && byte(1) == 0xFE;
  const bool big = byte(0) == 0xFE && byte(1) == 0xFF;
  if (little || big) {
    const size_t units = bytes.size() / 2;
    text.reserve(units - 1);
    for (size_t i = 1; i < units; ++i) {
      const uint8_t first = byte(2 * i), second = byte(2 * i + 1);
      text.push_back(little ? static_cast<char16_t>(first | second << 8)
                            : static_cast<char16_t>(first << 8 | second));
    }
  } else {
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) text.push_back(byte(i));
  }
  return text;
}

// The reader's state between characters; fields go into the table as soon as they end.
class FieldParser {
 public:
  FieldParser(TaskTable& table, char16_t separator) : table_(table), separator_(separator) {}

  void Feed(char16_t c) {
    if (c == separator_) {
      if (quotes_ % 2 == 0) {
        EndField(false);
      } else {
        field_.push_back(c);
      }
    } else if (c == kQuote) {
      ++quotes_;
      // The opening mark adds nothing, a doubled mark inside adds one, the closing one nothing.
      if ((quotes_ % 2 == 1 && !field_.empty()) || quotes_ == 3) field_.push_back(kQuote);
    } else if (c == kCr) {
      // Ignored, inside quotation marks as well.
    } else if (c == kLf) {
      EndField(true);  // a field never spans two lines
    } else {
      field_.push_back(c);
    }
  }

  // A pending field is stored only when it holds text.
  void Finish() {
    if (!field_.empty()) EndField(false);
  }

 private:
  void EndField(bool line_ends) {
    quotes_ = 0;
    if (new_line_) {
      new_line_ = false;
      table_.AppendEmptyRow();
      row_ = table_.RowCount() - 1;
      column_ = -1;
    }
    ++column_;
    // A ninth field fails here with "Cell out of bounds (8, row)".
    table_.SetCellText(column_, row_, field_);
    field_.clear();
    if (line_ends) new_line_ = true;
  }

  TaskTable& table_;
  const char16_t separator_;
  std::u16string field_;
  int quotes_ = 0;
  bool new_line_ = true;
  int row_ = -1;
  int column_ = -1;
};

void ReadRows(TaskTable& table, std::string_view bytes, char16_t separator) {
  FieldParser parser(table, separator);
  for (char16_t c : DecodeTableText(bytes)) parser.Feed(c);
  parser.Finish();
}

}  // namespace

std::u16string QuoteField(std::u16string_view text, char16_t separator) {
  std::u16string field;
  field.reserve(text.size() + 2);
  bool enclose = false;
  for (char16_t c : text) {
    if (c == kQuote) {
      field.push_back(kQuote);
      enclose = true;
    }
    if (c == separator) enclose = true;
    field.push_back(c);
  }
  if (enclose) {
    field.insert(field.begin(), kQuote);
    field.push_back(kQuote);
  }
  return field;
}

std::u16string TableLine(const TaskTable& table, int row, char16_t separator) {
  std::u16string line;
  for (int column = 0; column < TaskTable::ColumnCount(); ++column) {
    if (column > 0) line += separator;
    line += QuoteField(table.CellText(column, row), separator);
  }
  return line;
}

std::string TableTextBytes(const TaskTable& table, char16_t separator) {
  std::string bytes;
  AppendUnit(bytes, u'\uFEFF');
  for (int row = 0; row < table.RowCount(); ++row) {
    for (char16_t c : TableLine(table, row, separator)) AppendUnit(bytes, c);
    AppendUnit(bytes, kCr);
    AppendUnit(bytes, kLf);
  }
  return bytes;
}

void SaveTableText(const TaskTable& table, const std::string& path, char16_t separator) {
  const std::string bytes = TableTextBytes(table, separator);
  try {
    ReplaceFile(path, bytes);
  } catch (const FileOperationError& e) {
    // The I/O error's message does not name the file; the error carries it.
    IoError error = IoErrorFromErrno(e.error_number());
    error.set_file(path);
    throw error;
  }
}

void LoadTableText(TaskTable& table, const std::string& path, char16_t separator) {
  TaskTable::ResetScope scope(table);
  table.ClearTasks();
  std::string bytes;
  try {
    // No lock: the table file is not opened exclusively.
    bytes = ReadWholeFile(path, /*exclusive=*/false);
  } catch (const FileOperationError& e) {
    throw IoErrorFromErrno(e.error_number());
  }
  ReadRows(table, bytes, separator);
}

void LoadTableBytes(TaskTable& table, std::string_view bytes, char16_t separator) {
  TaskTable::ResetScope scope(table);
  table.ClearTasks();
  ReadRows(table, bytes, separator);
}

}  // namespace veskor
