// Carved files on disk: the folder they go to, their names, and each one written decoded into a
// name of its own that no other file had, or written first and named once its name is known.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/carve/executable_finder.h"

namespace veskor {

// How many hex digits of the host file's SHA-256 begin a carved file's name: 64 bits, so that the
// files of a whole corpus carved into one folder do not meet, and a name stays short enough to
// read.
inline constexpr size_t kCarvedHashDigits = 16;

// Makes `dir` and the folders above it where missing, and checks that files can be made in it.
// Throws IoError (naming `dir`) when it cannot be made or written.
void PrepareCarveFolder(const std::string& dir);

// SHA256PREFIX_OFFSET_ALGO_KEY: the first kCarvedHashDigits of the host file's SHA-256, the
// offset in decimal, the algorithm and the key as a row writes it. Every part but the hash is
// what `--decode` takes to write the same bytes again.
std::string CarvedFileStem(std::string_view host_sha256, const FoundExecutable& found);

// A file made by CreateNewFile or CreateUnnamedFile, open for writing; closed when it goes out of
// scope (a file with no name is gone then).
class NewFile {
 public:
  NewFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~NewFile();
  NewFile(NewFile&& other) noexcept;
  NewFile& operator=(NewFile&&) = delete;
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Closes the file: 0, or the errno of a failed close (a file system that reports a lost write
  // only then).
  int Close();
  // Closes the file if open and removes it: what was written must not pass for a whole file.
  void Discard();
  // Gives a file of CreateUnnamedFile its name, as CreateNewFile chooses it: false (errno set)
  // when it cannot be linked (no /proc), EEXIST when every name is taken.
  bool Link(const std::string& dir, std::string_view stem, std::string_view extension);

 private:
  int fd_;
  std::string path_;
};

// Makes `stem` + `extension` in `dir`, or the first of `stem`_2, `stem`_3, ... that no entry of
// the folder has, with O_EXCL: a name taken is never overwritten, and two writers, in this
// process or another, never share one. Throws IoError naming the path it could not make.
NewFile CreateNewFile(const std::string& dir, std::string_view stem, std::string_view extension);

// A file of `dir` with no name yet (its path is empty), for bytes written before their name is
// known; nothing when the folder's file system makes no such files.
std::optional<NewFile> CreateUnnamedFile(const std::string& dir);

struct CarvedFile {
  std::string path;
  std::string sha256;  // of the decoded bytes, lower-case hex; empty when not asked for
};

// Writes the decoded bytes of `found` (of the `size` bytes at `data`) into a new file of `dir`
// named by CarvedFileStem and its format's extension, and takes their SHA-256 when `sha256`.
// Nothing of it is left when a write fails (IoError naming the path) or a read of the mapping
// faults (InputReadError).
CarvedFile WriteCarvedFile(const std::string& dir, std::string_view host_sha256,
                           const uint8_t* data, uint64_t size, const FoundExecutable& found,
                           bool sha256 = true);

// A carved file whose bytes are written and whose name waits for the host file's SHA-256 (taken
// meanwhile on another thread).
struct UnnamedCarvedFile {
  NewFile file;
  std::string sha256;
};

// Writes the decoded bytes of `found` as WriteCarvedFile does, into a file of `dir` with no name:
// nothing when the folder's file system makes no such files. A failed write throws IoError naming
// `dir`, and leaves nothing.
std::optional<UnnamedCarvedFile> WriteUnnamedCarvedFile(const std::string& dir, const uint8_t* data,
                                                        uint64_t size, const FoundExecutable& found,
                                                        bool sha256 = true);

// Gives `unnamed` the name WriteCarvedFile would have made, and closes it. Nothing when it cannot
// be named so (the file is gone: write it again with WriteCarvedFile); throws IoError as
// WriteCarvedFile does.
std::optional<CarvedFile> NameCarvedFile(UnnamedCarvedFile unnamed, const std::string& dir,
                                         std::string_view host_sha256,
                                         const FoundExecutable& found);

}  // namespace veskor
