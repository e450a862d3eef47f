// Decoded bytes of a row's input saved to a file on a worker thread: a hidden executable found
// in it, or a range from a string on. The window stays free while they are written.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "engine/carve/byte_cipher.h"
#include "engine/run/run_search.h"

class QWidget;

namespace veskor {

// The pair of a key the row's summary lists (of an ANY row, the pair's own algorithm and key).
ByteCipher CipherOfKey(const RunSearch& search, int key);

// One save at a time, owned by a window: the bytes from `start` to `end` of the run's input,
// decoded, replace the file at `path` whole, unless the input is no longer the file the run
// read. `done` comes on the owner's thread with the note to show, or an error's message.
class DecodedSave : public QObject {
  Q_OBJECT

 public:
  explicit DecodedSave(QObject* owner);
  ~DecodedSave() override;  // stops the save under way and waits for it: nothing is left of it

  bool busy() const { return busy_; }
  void Start(std::shared_ptr<const RunSearch> search, ByteCipher cipher, uint64_t start,
             uint64_t end, const QString& path,
             std::function<void(bool saved, const QString& text)> done);

 private:
  void Join();

  std::thread worker_;
  std::atomic<bool> cancel_{false};
  bool busy_ = false;
};

// Asks for the end of the bytes to save from `start` of a file of `size` bytes (decimal or 0x hex,
// excluded); none when the question was cancelled. Tests answer through the seam.
std::optional<uint64_t> ChooseDecodeEnd(QWidget* parent, uint64_t start, uint64_t size);
void SetDecodeEndSeamForTesting(std::function<std::optional<uint64_t>(uint64_t, uint64_t)> seam);

}  // namespace veskor
