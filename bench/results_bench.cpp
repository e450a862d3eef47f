// The Results window's list of one key over a file of millions of strings: listing time, the
// event loop's worst wait meanwhile, the memory it adds, and the time to show rows far apart.
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "engine/decoding/algorithms.h"
#include "engine/search/scan_context.h"
#include "ui/results/string_list_model.h"

namespace {

// Anonymous resident memory: the mapped file's pages, which the kernel may drop, are not counted.
long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("RssAnon:", 0) == 0) return std::stol(line.substr(8));
  }
  return 0;
}

// Random bytes: under any key, spans of the 128 byte values below 0x80 of 5 or more are
// strings, about one in 64 bytes.
void WriteRandomFile(const std::string& path, int mib) {
  std::mt19937_64 random(5);
  std::string bytes(static_cast<size_t>(mib) << 20, '\0');
  for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
    const uint64_t value = random();
    std::memcpy(bytes.data() + i, &value, 8);
  }
  std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
}

std::shared_ptr<veskor::RunSearch> RandomFileSearch(const std::string& path) {
  veskor::FillAlgorithms();
  auto search = std::make_shared<veskor::RunSearch>();
  search->input = path;
  search->stamp = veskor::StampOf(path);
  veskor::FindAlgorithm("XOR8", search->algorithm);
  std::string alphabet;
  for (int c = 0; c < 0x80; ++c) alphabet.push_back(static_cast<char>(c));
  search->fields = {alphabet, "", 5, 0};
  search->format = "%3d | %*d | %s";
  search->width = veskor::DecimalWidth(search->stamp.size);
  return search;
}

}  // namespace

// Usage: results_bench [MiB] (default 256); runs on the offscreen platform.
int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int mib = argc > 1 ? std::max(1, std::atoi(argv[1])) : 256;

  QTemporaryDir dir;
  const std::string path = dir.filePath("random.bin").toStdString();
  WriteRandomFile(path, mib);
  const auto search = RandomFileSearch(path);

  veskor::StringListModel model;
  QTableView view;
  view.verticalHeader()->hide();
  view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view.verticalHeader()->setDefaultSectionSize(18);
  view.setModel(&model);
  view.resize(900, 500);
  view.show();
  app.processEvents();
  const long resident_before = ResidentKiB();

  // The event loop's worst wait: a 5 ms timer that notes how late each of its ticks comes.
  QElapsedTimer since_tick;
  double worst_wait_ms = 0;
  QTimer probe;
  probe.setInterval(5);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    worst_wait_ms = std::max(worst_wait_ms, since_tick.nsecsElapsed() / 1e6);
    since_tick.restart();
  });
  QElapsedTimer listing;
  listing.start();
  since_tick.start();
  probe.start();
  model.Show(search, 0x5A, nullptr);
  // The view follows the end of the list as it grows, as a user watching it would.
  QObject::connect(&model, &QAbstractItemModel::rowsInserted, &view,
                   [&] { view.scrollToBottom(); });
  while (model.state() == veskor::StringListModel::State::kScanning) {
    app.processEvents(QEventLoop::WaitForMoreEvents);
  }
  const double listing_s = listing.nsecsElapsed() / 1e9;
  probe.stop();
  const long resident_listed = ResidentKiB();

  // Rows far apart: each is on a page that is not cached.
  std::mt19937 pick(3);
  double worst_fetch_ms = 0;
  double total_fetch_ms = 0;
  const int fetches = 50;
  for (int i = 0; i < fetches; ++i) {
    const int row = static_cast<int>(pick() % static_cast<unsigned>(model.rowCount()));
    QElapsedTimer fetch;
    fetch.start();
    view.scrollTo(model.index(row, 0));
    app.processEvents();  // paints the rows around it
    const double ms = fetch.nsecsElapsed() / 1e6;
    worst_fetch_ms = std::max(worst_fetch_ms, ms);
    total_fetch_ms += ms;
  }
  const long resident_after = ResidentKiB();

  std::printf(
      "veskor results_bench: %d MiB random file, XOR8 key 0x5A, 128-value alphabet, MinLength 5\n"
      "  strings listed            %llu (rows %d)\n"
      "  listing the key           %.2f s (%.0f MiB/s)\n"
      "  worst event-loop wait     %.1f ms while listing\n"
      "  memory added              %ld KiB after listing (%.1f bytes per row), %ld KiB after "
      "%d jumps\n"
      "  showing a far row         %.1f ms on average, %.1f ms at worst (%d jumps)\n",
      mib, static_cast<unsigned long long>(model.found()), model.rowCount(), listing_s,
      mib / listing_s, worst_wait_ms, resident_listed - resident_before,
      (resident_listed - resident_before) * 1024.0 / std::max(1, model.rowCount()),
      resident_after - resident_before, fetches, total_fetch_ms / fetches, worst_fetch_ms, fetches);
  return 0;
}
