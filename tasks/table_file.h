// grid.cfg: the task table as comma-separated UTF-16 text, one line per row, one field per
// column, with the quoting of the writer and every rule of the reader.
#pragma once

#include <string>
#include <string_view>

#include "tasks/task_table.h"

namespace veskor {

// The field as written: every quotation mark doubled, and the whole enclosed in quotation marks
// when the text holds the separator or a quotation mark. CR, LF and all else stay as they are.
std::u16string QuoteField(std::u16string_view text, char16_t separator);

// The bytes SaveTableText writes: the byte-order mark FF FE, then for each row its eight cells'
// text forms, quoted, joined by the separator and followed by CR LF; UTF-16, low byte first.
std::string TableTextBytes(const TaskTable& table, char16_t separator);

// One row as a line of the file, without its line end: the eight cells' text forms, quoted,
// joined by the separator.
std::u16string TableLine(const TaskTable& table, int row, char16_t separator);

inline constexpr const char* kTableFileName = "grid.cfg";

// Writes TableTextBytes to `path` (file-system bytes) by atomic replacement. A failure raises
// the IoError for its errno ("Disk full", "File access denied", ...) and leaves an existing file
// as it was.
void SaveTableText(const TaskTable& table, const std::string& path, char16_t separator);

// ClearTasks, then reads the rows of the file at `path`, opened without a lock; the observer
// sees one reset. Does not select. A file that cannot be opened or read raises the IoError for
// its errno and leaves the table empty. A ninth field in a line raises OutOfBoundsError
// "Cell out of bounds (8, r)"; a field its column cannot take raises the ConversionError of
// SetCellText. After an error the rows and cells read before it stay.
void LoadTableText(TaskTable& table, const std::string& path, char16_t separator);

// LoadTableText over a file's contents held in memory: ClearTasks, then the same reader.
void LoadTableBytes(TaskTable& table, std::string_view bytes, char16_t separator);

}  // namespace veskor
