// Carved files: names, exclusive creation (or a file with no name, linked to one later), and the
// decoded bytes streamed into them while their SHA-256 is taken.
#include "engine/carve/carved_file.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include "engine/carve/range_decoder.h"
#include "engine/input/fault_guard.h"
#include "engine/search/scan_input.h"
#include "files/default_file_mode.h"
#include "files/io_error.h"
#include "files/write_fully.h"
#include "text/integer_syntax.h"

namespace veskor {
namespace {

[[noreturn]] void ThrowIoError(int error_number, const std::string& path) {
  IoError error = IoErrorFromErrno(error_number);
  error.set_file(path);
  throw error;
}

std::string Joined(const std::string& dir, std::string_view name) {
  std::string path = dir;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

// The SHA-256 of bytes handed in pieces.
class Sha256 {
 public:
  Sha256() : context_(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
      throw Error("SHA-256 is not available");
    }
  }
  void Add(std::span<const uint8_t> bytes) {
    if (!Update(bytes)) throw Error("SHA-256 is not available");
  }
  // Add() that throws nothing, for a guarded read of the mapping.
  bool Update(std::span<const uint8_t> bytes) {
    return EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()) == 1;
  }
  std::string Hex() {
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_.get(), hash, &length) != 1) {
      throw Error("SHA-256 is not available");
    }
    return LowerHex(std::string_view(reinterpret_cast<const char*>(hash), length));
  }

 private:
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context_;
};

// A name's part made of letters, digits and "_" alone: no "/" or ".." from a caller's text.
std::string Tame(std::string_view part) {
  std::string tame(part);
  for (char& c : tame) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!plain) c = '_';
  }
  return tame;
}

// More names than any folder would hold of one stem: past them, a file system that answers
// "exists" to everything.
constexpr int kMaxNameTries = 1 << 20;

// The name a new file tries at its n-th attempt: the stem, then _2, _3... while names are taken.
std::string NthName(std::string_view stem, int n, std::string_view extension) {
  std::string name(stem);
  if (n > 1) {
    name += '_';
    name += std::to_string(n);
  }
  name += extension;
  return name;
}

}  // namespace

void PrepareCarveFolder(const std::string& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) ThrowIoError(error.value(), dir);
  if (!std::filesystem::is_directory(dir, error))
    ThrowIoError(error ? error.value() : ENOTDIR, dir);
  if (::access(dir.c_str(), W_OK | X_OK) != 0) ThrowIoError(errno, dir);
}

std::string CarvedFileStem(std::string_view host_sha256, const FoundExecutable& found) {
  return Tame(host_sha256.substr(0, kCarvedHashDigits)) + "_" + std::to_string(found.offset) + "_" +
         Tame(found.pair.algorithm) + "_" + Tame(KeyTextOf(found.pair));
}

NewFile::~NewFile() {
  if (fd_ >= 0) ::close(fd_);
}

NewFile::NewFile(NewFile&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

int NewFile::Close() {
  const int result = ::close(fd_);
  fd_ = -1;
  return result == 0 ? 0 : errno;
}

void NewFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ::unlink(path_.c_str());
}

bool NewFile::Link(const std::string& dir, std::string_view stem, std::string_view extension) {
  // The descriptor's entry under /proc names the file itself; linking it through that entry, by
  // a process without privileges, needs the target's parent only. A name taken answers EEXIST:
  // nothing is overwritten.
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  for (int n = 1; n <= kMaxNameTries; ++n) {
    std::string path = Joined(dir, NthName(stem, n, extension));
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      path_ = std::move(path);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

std::optional<NewFile> CreateUnnamedFile(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, DefaultFileMode());
  if (fd < 0) return std::nullopt;
  return NewFile(fd, std::string());
}

NewFile CreateNewFile(const std::string& dir, std::string_view stem, std::string_view extension) {
  for (int n = 1; n <= kMaxNameTries; ++n) {
    std::string path = Joined(dir, NthName(stem, n, extension));
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          DefaultFileMode());
    if (fd >= 0) return NewFile(fd, std::move(path));
    if (errno != EEXIST) ThrowIoError(errno, path);
  }
  ThrowIoError(EEXIST, Joined(dir, std::string(stem) + std::string(extension)));
}

namespace {

// Writes the decoded bytes of `found` into `file`; its SHA-256 when `sha256`, else nothing. A
// failed write throws IoError naming `path`.
std::string WriteDecoded(const NewFile& file, const std::string& path, const uint8_t* data,
                         uint64_t size, const FoundExecutable& found, bool sha256) {
  std::optional<Sha256> hash;
  if (sha256) hash.emplace();
  {
    const ByteCipher cipher = CipherOf(found.pair);
    if (cipher.Identity()) {
      // The bytes as stored (NONE): hashed and written straight from the mapping, one write for
      // the file. The kernel answers a read of the mapping past a shrunk file's end with EFAULT.
      const uint64_t end = std::min(size, found.offset + found.size);
      const std::span<const uint8_t> bytes(data + std::min(found.offset, end), data + end);
      bool hashed = true;
      if (hash && !ReadMapped([&] { hashed = hash->Update(bytes); })) throw InputReadError();
      if (!hashed) throw Error("SHA-256 is not available");
      const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      if (!WriteFully(file.fd(), text)) {
        if (errno == EFAULT) throw InputReadError();
        ThrowIoError(errno, path);
      }
    } else {
      DecodeRange(data, size, cipher, found.offset, found.offset + found.size,
                  [&](std::span<const uint8_t> bytes) {
                    if (hash) hash->Add(bytes);
                    const std::string_view text(reinterpret_cast<const char*>(bytes.data()),
                                                bytes.size());
                    if (!WriteFully(file.fd(), text)) ThrowIoError(errno, path);
                  });
    }
  }
  return hash ? hash->Hex() : std::string();
}

}  // namespace

CarvedFile WriteCarvedFile(const std::string& dir, std::string_view host_sha256,
                           const uint8_t* data, uint64_t size, const FoundExecutable& found,
                           bool sha256) {
  NewFile file =
      CreateNewFile(dir, CarvedFileStem(host_sha256, found), FormatExtension(found.format));
  try {
    std::string hash = WriteDecoded(file, file.path(), data, size, found, sha256);
    if (const int error_number = file.Close(); error_number != 0) {
      ThrowIoError(error_number, file.path());
    }
    return {file.path(), std::move(hash)};
  } catch (...) {
    file.Discard();
    throw;
  }
}

std::optional<UnnamedCarvedFile> WriteUnnamedCarvedFile(const std::string& dir, const uint8_t* data,
                                                        uint64_t size, const FoundExecutable& found,
                                                        bool sha256) {
  std::optional<NewFile> file = CreateUnnamedFile(dir);
  if (!file) return std::nullopt;
  // A failure closes the file, and a file with no name is gone with it.
  std::string hash = WriteDecoded(*file, dir, data, size, found, sha256);
  return UnnamedCarvedFile{std::move(*file), std::move(hash)};
}

std::optional<CarvedFile> NameCarvedFile(UnnamedCarvedFile unnamed, const std::string& dir,
                                         std::string_view host_sha256,
                                         const FoundExecutable& found) {
  NewFile& file = unnamed.file;
  const std::string stem = CarvedFileStem(host_sha256, found);
  if (!file.Link(dir, stem, FormatExtension(found.format))) {
    if (errno == EEXIST) {
      ThrowIoError(EEXIST, Joined(dir, stem + std::string(FormatExtension(found.format))));
    }
    return std::nullopt;
  }
  if (const int error_number = file.Close(); error_number != 0) {
    file.Discard();
    ThrowIoError(error_number, file.path());
  }
  return CarvedFile{file.path(), std::move(unnamed.sha256)};
}

}  // namespace veskor
