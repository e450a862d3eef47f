// The hidden executables of a batch's files: a finder for each task, built once for the batch,
// and each file's finds written decoded into the carve folder, each only once.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/carve/carved_file.h"
#include "engine/carve/executable_finder.h"
#include "engine/input/mapped_input.h"
#include "engine/run/analysis_request.h"
#include "engine/run/run_observer.h"

namespace veskor {

class FileCarver {
 public:
  // A finder for each row whose algorithm and key are known: every key of a row with no key
  // (NONE's bytes as stored past offset 0), its one key, or every pair of ANY. The keys an XORK
  // row without a key or an ANY row searched are each file's own: they are added file by file
  // from the row's outcome. A row whose algorithm or key is wrong gets none: its own search says
  // what is wrong.
  // `sha256`: each carved file's SHA-256 is taken as it is written (its record names it).
  FileCarver(std::string dir, const std::vector<RequestRow>& rows, bool sha256 = true);

  struct Written {
    FoundExecutable found;
    CarvedFile file;
  };
  struct Outcome {
    std::vector<Written> written;  // in the order the rows ran, each row's by offset
    bool complete = true;          // false when `go_on` stopped it
  };

  // Finds the executables of `input` under the rows of `rows` that searched it to their end and
  // writes each decoded into the folder; the same bytes at one offset found under a second row
  // (NONE beside ANY, SUB8 beside ANY's ADD8) are written once. `host_sha256` is asked once, on
  // another thread, from the first find on, and nothing stops it (none: stop here, and the files
  // that waited for their name are gone). Throws
  // InputReadError when the mapping faults and IoError when a file cannot be written; what was
  // written before stays, in `outcome`.
  void Carve(const MappedInput& input, const std::vector<RowOutcome>& rows,
             const std::function<std::optional<std::string>()>& host_sha256,
             const std::function<bool()>& go_on, Outcome& outcome) const;

  const std::string& dir() const { return dir_; }

 private:
  struct RowFinder {
    int row = 0;  // RequestRow::row
    ExecutableFinder finder;
    bool file_keys = false;  // the XORK keys the row recovered from the file are added
  };
  static ExecutableFinder::Result Find(const RowFinder& finder, const MappedInput& input,
                                       const RowOutcome& row, const FindOptions& options);

  std::string dir_;
  bool sha256_;
  std::vector<RowFinder> finders_;
};

}  // namespace veskor
