// A row's strings found again: only in the very file its run read, whatever its modification time
// says; and, as the reference scanner finds them, in slices of any size and from any index entry.
#include "engine/results/key_strings.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/run/analysis_run.h"
#include "engine/search/reference_scanner.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

// What a run of one NONE row with key 0 searched over `input` for seven digits or more.
std::shared_ptr<const RunSearch> SearchOfRun(const std::string& input) {
  struct Keep : RunObserver {
    void RowFinished(const RequestRow&, const RowOutcome& outcome) override {
      search = outcome.search;
    }
    std::shared_ptr<const RunSearch> search;
  } keep;
  AnalysisRequest request;
  request.input = input;
  request.format = "%3d | %*d | %s";
  RequestRow row;
  row.algorithm = "NONE";
  row.key = "0";
  row.fields = SearchFields{"0123456789", "", 7, 0};
  request.rows = {row};
  RunRequest(request, keep);
  return keep.search;
}

constexpr uint8_t kKey = 0x5A;
constexpr char kFormat[] = "%3d | %*d | %s";

std::string Printable() {
  std::string alphabet;
  for (int c = 0x20; c < 0x7F; ++c) alphabet.push_back(static_cast<char>(c));
  return alphabet;
}

// 2600 strings (past two index steps) between one to three zero characters, every 600th of
// 5000 characters (more than a FoundString shows), the last one ending the file; stored under
// XOR8 kKey, each character followed by a zero byte when `width` is 2.
std::string StoredStrings(int width) {
  std::string plain;
  for (int i = 0; i < 2600; ++i) {
    if (i > 0) plain.append(static_cast<size_t>(1 + i % 3), '\0');
    char text[16];
    std::snprintf(text, sizeof text, "s%05d-", i);
    plain += text;
    plain.append(i % 600 == 599 ? 5000 : static_cast<size_t>(i % 5),
                 'a' + static_cast<char>(i % 26));
  }
  std::string stored;
  for (char c : plain) {
    stored.push_back(static_cast<char>(c ^ kKey));
    if (width == 2) stored.push_back(static_cast<char>(kKey));
  }
  return stored;
}

// What the reference scanner writes: the lines' bytes, and the position and text of each line.
struct Found {
  int64_t position;
  std::string text;
};

class Recorder : public ScanServices, public LineMaker {
 public:
  std::string bytes;
  mutable std::vector<Found> found;

  void Write(std::string_view piece) override { bytes.append(piece); }
  void SetProgress(int) override {}
  void Pace(int64_t) override {}
  void AppendLine(LineBuffer&, int32_t, int32_t, int64_t position,
                  std::string_view text) const override {
    found.push_back({position, std::string(text)});
  }
  void WriteLine(ByteSink&, int32_t, int32_t, int64_t position,
                 const LongText& text) const override {
    struct Text : ByteSink {
      std::string bytes;
      void Write(std::string_view piece) override { bytes.append(piece); }
    } whole;
    text.WriteTo(text.size(), whole);
    found.push_back({position, whole.bytes});
  }
};

struct Sink : ByteSink {
  std::string bytes;
  void Write(std::string_view piece) override { bytes.append(piece); }
};

std::vector<std::string> SplitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < bytes.size();) {
    const size_t end = bytes.find("\r\n", at) + 2;
    lines.push_back(bytes.substr(at, end - at));
    at = end;
  }
  return lines;
}

int64_t Nanoseconds(const timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

TEST(KeyStrings, OnlyTheFileTheRunReadIsSearchedAgain) {
  FillAlgorithms();
  const fs::path dir = fs::temp_directory_path() / ("veskor_strings_" + std::to_string(::getpid()));
  const std::string input = (dir / "sample.bin").string();
  const std::string bytes = "ab1234567cd89" + std::string(20000, 'x') + "7654321";
  auto write = [&](const std::string& content) {
    std::ofstream(input, std::ios::binary | std::ios::trunc) << content;
  };
  // Each change keeps the size and puts the modification time back, as `cp -p`, `rsync -t` and
  // `tar x` do.
  struct Case {
    const char* name;
    bool change;
    std::string content;
    KeyStrings::Status status;
  } cases[] = {
      {"unchanged", false, bytes, KeyStrings::Status::kReady},
      {"another file's bytes", true, std::string(bytes.size(), '5'), KeyStrings::Status::kChanged},
      // The bytes may be the same, but the change time says the file was written since: telling
      // that apart would take reading all of it.
      {"the same bytes written again", true, bytes, KeyStrings::Status::kChanged},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    write(bytes);
    const std::shared_ptr<const RunSearch> search = SearchOfRun(input);
    ASSERT_TRUE(search) << c.name;
    struct stat run {};
    ASSERT_EQ(::stat(input.c_str(), &run), 0);
    if (c.change) {
      // The same bytes are written until the file system dates the write, which it does in steps
      // of its clock; other bytes tell themselves apart at once.
      struct stat now {};
      do {
        write(c.content);
        ASSERT_EQ(::stat(input.c_str(), &now), 0);
      } while (c.content == bytes && Nanoseconds(now.st_ctim) == Nanoseconds(run.st_ctim));
      const timespec times[2] = {run.st_atim, run.st_mtim};
      ASSERT_EQ(::utimensat(AT_FDCWD, input.c_str(), times, 0), 0);
    }
    KeyStrings strings(*search, 0);
    EXPECT_EQ(strings.Open(), c.status) << c.name;
  }
  fs::remove_all(dir);
}

// Another file's bytes written over the input in place once it was opened (its mapping sees
// them) and its time put back: every later read checks the file before and after and raises,
// whatever it had read meanwhile; a line job must not save another file's strings.
TEST(KeyStrings, EveryReadOfAFileRewrittenInPlaceRaises) {
  FillAlgorithms();
  const std::string input =
      ::testing::TempDir() + "key_strings_rewritten_" + std::to_string(::getpid()) + ".bin";
  const std::string bytes = "ab1234567cd89" + std::string(20000, 'x') + "7654321";
  std::string other = bytes;
  std::replace(other.begin(), other.end(), '1', '9');
  struct Case {
    const char* name;
    bool advanced;  // the whole file scanned before the change
    std::function<void(KeyStrings&)> read;
  } cases[] = {
      {"advance", false, [](KeyStrings& strings) { strings.Advance(1 << 20); }},
      {"get", true, [](KeyStrings& strings) { strings.Get(0, 2); }},
      {"write lines", true,
       [](KeyStrings& strings) {
         Sink sink;
         strings.WriteLines(0, 2, sink);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(input, std::ios::binary | std::ios::trunc) << bytes;
    const std::shared_ptr<const RunSearch> search = SearchOfRun(input);
    ASSERT_TRUE(search);
    KeyStrings strings(*search, 0);
    ASSERT_EQ(strings.Open(), KeyStrings::Status::kReady);
    if (c.advanced) {
      ASSERT_TRUE(strings.Advance(1 << 20));
      ASSERT_EQ(strings.count(), 2u);
    }
    struct stat run {};
    ASSERT_EQ(::stat(input.c_str(), &run), 0);
    // In place, until the file system dates the write, which it does in steps of its clock.
    struct stat now {};
    const int fd = ::open(input.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    do {
      ASSERT_EQ(::pwrite(fd, other.data(), other.size(), 0), static_cast<ssize_t>(other.size()));
      ASSERT_EQ(::fstat(fd, &now), 0);
    } while (Nanoseconds(now.st_ctim) == Nanoseconds(run.st_ctim));
    ::close(fd);
    const timespec times[2] = {run.st_atim, run.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, input.c_str(), times, 0), 0);
    try {
      c.read(strings);
      ADD_FAILURE() << "read another file's bytes";
    } catch (const InputChangedError& e) {
      EXPECT_TRUE(e.change().changed && e.change().content);
      EXPECT_FALSE(e.change().size || e.change().modified || e.change().other_file);
    }
  }
  std::remove(input.c_str());
}

TEST(KeyStrings, FindTheReferenceScannersStringsAgain) {
  FillAlgorithms();
  // CTest runs the tests side by side: this one has a file of its own.
  const std::string path =
      ::testing::TempDir() + "key_strings_reference_" + std::to_string(::getpid()) + ".bin";
  // Leaves out the strings whose number ends in 7.
  const std::function<bool(std::string_view)> no_sevens = [](std::string_view text) {
    return text.size() < 6 || text[5] != '7';
  };
  struct Case {
    const char* algorithm;
    uint64_t slice;  // bytes per Advance
    bool filtered;
  } cases[] = {
      {"XOR8", 7, false},
      {"XOR8", uint64_t{1} << 40, false},
      {"XOR8", 1000, true},
      {"XOR8W", 4096, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.algorithm) + " slice " + std::to_string(c.slice) +
                 (c.filtered ? " filtered" : ""));
    const std::string stored = StoredStrings(std::string_view(c.algorithm).back() == 'W' ? 2 : 1);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << stored;
    RunSearch search;
    search.input = path;
    search.stamp = StampOf(path);
    ASSERT_TRUE(FindAlgorithm(c.algorithm, search.algorithm));
    search.fields = {Printable(), "", 7, 0};
    search.format = kFormat;
    search.width = DecimalWidth(stored.size());

    // The reference's strings and lines under the key, those the filter refuses left out.
    const auto* data = reinterpret_cast<const uint8_t*>(stored.data());
    Recorder strings;
    TScanContext context = ContextOver(data, stored.size(), strings, strings);
    context.Key = kKey;
    ScanPassReference(search.algorithm, search.fields, context);
    Recorder line_bytes;
    const RowLineMaker format(search.format);
    context = ContextOver(data, stored.size(), line_bytes, format);
    context.Key = kKey;
    ScanPassReference(search.algorithm, search.fields, context);
    const std::vector<std::string> all_lines = SplitLines(line_bytes.bytes);
    ASSERT_EQ(all_lines.size(), strings.found.size());
    std::vector<Found> expected;
    std::string lines;
    for (size_t i = 0; i < all_lines.size(); ++i) {
      if (c.filtered && !no_sevens(strings.found[i].text)) continue;
      expected.push_back(strings.found[i]);
      lines += all_lines[i];
    }
    ASSERT_GT(expected.size(), 2 * KeyStrings::kIndexStep + 2);

    KeyStrings key_strings(search, kKey, c.filtered ? no_sevens : nullptr);
    ASSERT_EQ(key_strings.Open(), KeyStrings::Status::kReady);
    while (!key_strings.Advance(c.slice)) {
    }
    EXPECT_TRUE(key_strings.complete());
    EXPECT_EQ(key_strings.progress(), 1.0);
    ASSERT_EQ(key_strings.count(), expected.size());

    // Stretches from before, at and after the index entries, and past the last string.
    const uint64_t n = expected.size();
    for (uint64_t first : {uint64_t{0}, KeyStrings::kIndexStep - 1, KeyStrings::kIndexStep,
                           2 * KeyStrings::kIndexStep + 1, n - 3}) {
      const std::vector<FoundString> got = key_strings.Get(first, 5);
      ASSERT_EQ(got.size(), std::min<uint64_t>(5, n - first)) << first;
      for (size_t i = 0; i < got.size(); ++i) {
        const Found& want = expected[first + i];
        EXPECT_EQ(got[i].position, static_cast<uint64_t>(want.position)) << first + i;
        EXPECT_EQ(got[i].length, want.text.size()) << first + i;
        EXPECT_EQ(got[i].text, want.text.substr(0, KeyStrings::kShownBytes)) << first + i;
      }
    }
    // The lines in the run's format, long ones whole.
    Sink sink;
    key_strings.WriteLines(0, n, sink);
    EXPECT_EQ(sink.bytes, lines);
    const std::vector<std::string> expected_lines = SplitLines(lines);
    Sink some;
    key_strings.WriteLines(KeyStrings::kIndexStep - 2, 4, some);
    EXPECT_EQ(some.bytes, expected_lines[KeyStrings::kIndexStep - 2] +
                              expected_lines[KeyStrings::kIndexStep - 1] +
                              expected_lines[KeyStrings::kIndexStep] +
                              expected_lines[KeyStrings::kIndexStep + 1]);
  }
  std::remove(path.c_str());
}

}  // namespace
}  // namespace veskor
