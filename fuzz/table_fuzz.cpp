// grid.cfg: any bytes load into rows or fail with a message; a table that loaded saves to a
// file that loads back into the same cells.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tasks/table_file.h"
#include "tasks/task_table.h"
#include "text/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  veskor::TaskTable table;
  try {
    veskor::LoadTableBytes(table, std::string_view(reinterpret_cast<const char*>(data), size),
                           u',');
  } catch (const veskor::Error&) {
    return 0;
  }
  const std::string saved = veskor::TableTextBytes(table, u',');
  veskor::TaskTable again;
  veskor::LoadTableBytes(again, saved, u',');
  if (again.RowCount() != table.RowCount()) std::abort();
  for (int row = 0; row < table.RowCount(); ++row) {
    for (int column = 0; column < veskor::kTaskColumnCount; ++column) {
      if (again.CellText(column, row) != table.CellText(column, row)) std::abort();
    }
  }
  return 0;
}
