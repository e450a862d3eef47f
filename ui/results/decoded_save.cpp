// The run's input mapped again on a worker, checked against the run's stamp, and decoded into a
// file that replaces the chosen one whole.
#include "ui/results/decoded_save.h"

#include <QFile>
#include <QInputDialog>
#include <QLineEdit>

#include "engine/carve/range_decoder.h"
#include "engine/input/input_check.h"
#include "engine/input/mapped_input.h"
#include "engine/results/key_strings.h"
#include "engine/search/scan_input.h"
#include "files/file_operation_error.h"
#include "files/io_error.h"
#include "files/replace_file.h"
#include "files/write_fully.h"
#include "text/integer_syntax.h"

namespace veskor {
namespace {

std::function<std::optional<uint64_t>(uint64_t, uint64_t)>& DecodeEndSeam() {
  static std::function<std::optional<uint64_t>(uint64_t, uint64_t)> seam;
  return seam;
}

// An offset typed in decimal or 0x hex.
std::optional<uint64_t> ParseOffset(const QString& typed) {
  QString text = typed.trimmed();
  int base = 10;
  if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    text = text.mid(2);
    base = 16;
  }
  bool ok = false;
  const qulonglong value = text.toULongLong(&ok, base);
  if (!ok) return std::nullopt;
  return value;
}

// What a save comes to, told on the owner's thread.
struct SaveEnd {
  bool saved = false;
  QString text;
};

SaveEnd Write(const RunSearch& search, const ByteCipher& cipher, uint64_t start, uint64_t end,
              const QString& path, const std::atomic<bool>& cancel) {
  MappedInput input;
  if (input.Open(search.input) != MappedInput::Result::kOk) {
    return {false, QStringLiteral("The file can no longer be read, so nothing was saved.")};
  }
  if (CompareStamps(search.stamp, input.stamp()).any()) {
    return {false, QStringLiteral("The file has changed since the run, so nothing was saved.")};
  }
  struct Cancelled {};
  struct WriteFailed {
    int error_number;
  };
  try {
    ReplaceFileWith(QFile::encodeName(path).toStdString(), [&](int fd) {
      try {
        DecodeRange(input.data(), input.size(), cipher, start, end,
                    [&](std::span<const uint8_t> bytes) {
                      if (cancel.load()) throw Cancelled{};
                      const std::string_view text(reinterpret_cast<const char*>(bytes.data()),
                                                  bytes.size());
                      if (!WriteFully(fd, text)) throw WriteFailed{errno};
                    });
      } catch (const WriteFailed& failed) {
        errno = failed.error_number;
        return false;
      }
      return true;
    });
  } catch (const Cancelled&) {
    return {false, QString()};
  } catch (const InputReadError&) {
    return {false, QStringLiteral("The file can no longer be read, so nothing was saved.")};
  } catch (const FileOperationError& e) {
    return {false, QStringLiteral("%1: %2").arg(
                       path, QString::fromStdString(IoErrorFromErrno(e.error_number()).what()))};
  }
  return {true,
          QStringLiteral("%1 decoded bytes saved to %2")
              .arg(QString::number(std::min(end, input.size()) - std::min(start, end)), path)};
}

}  // namespace

ByteCipher CipherOfKey(const RunSearch& search, int key) {
  return ByteCipher::ForKey(PairSearch(search, key).algorithm, PairKeyOf(search, key));
}

DecodedSave::DecodedSave(QObject* owner) : QObject(owner) {}

DecodedSave::~DecodedSave() {
  cancel_ = true;
  Join();
}

void DecodedSave::Join() {
  if (worker_.joinable()) worker_.join();
}

void DecodedSave::Start(std::shared_ptr<const RunSearch> search, ByteCipher cipher, uint64_t start,
                        uint64_t end, const QString& path,
                        std::function<void(bool saved, const QString& text)> done) {
  if (busy_) return;
  Join();
  busy_ = true;
  cancel_ = false;
  worker_ = std::thread([this, search, cipher, start, end, path, done] {
    const SaveEnd end_of_save = Write(*search, cipher, start, end, path, cancel_);
    // Told on the owner's thread; a save whose owner has gone tells no one.
    QMetaObject::invokeMethod(
        this,
        [this, end_of_save, done] {
          busy_ = false;
          done(end_of_save.saved, end_of_save.text);
        },
        Qt::QueuedConnection);
  });
}

std::optional<uint64_t> ChooseDecodeEnd(QWidget* parent, uint64_t start, uint64_t size) {
  if (DecodeEndSeam()) return DecodeEndSeam()(start, size);
  for (QString typed = QString::number(size);;) {
    bool ok = false;
    typed = QInputDialog::getText(
        parent, QStringLiteral("Save decoded bytes"),
        QStringLiteral("Decode from offset %1 up to offset (excluded; decimal or 0x hex, at most "
                       "%2, the file's end):")
            .arg(start)
            .arg(size),
        QLineEdit::Normal, typed, &ok);
    if (!ok) return std::nullopt;
    const std::optional<uint64_t> end = ParseOffset(typed);
    if (end && *end > start && *end <= size) return end;
  }
}

void SetDecodeEndSeamForTesting(std::function<std::optional<uint64_t>(uint64_t, uint64_t)> seam) {
  DecodeEndSeam() = std::move(seam);
}

}  // namespace veskor
