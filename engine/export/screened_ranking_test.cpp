// A summary that leaves keys with bounds lists the same first keys and "maybe" band, byte for
// byte, as the summary that scores every key, on a program's own bytes with secrets in them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/export/summary_table.h"
#include "engine/run/analysis_run.h"
#include "engine/run/grid_run.h"
#include "engine/run/run_observer.h"
#include "engine/score/rank_floor.h"
#include "engine/score/score_band.h"
#include "presets/preset.h"
#include "presets/preset_list.h"
#include "report/report_format.h"
#include "tasks/task_table.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

// The runner's summary: no line, no log; the outcomes kept.
class SummaryObserver : public RunObserver {
 public:
  std::unique_ptr<LogSink> OpenLog(const RequestRow&, const std::string&) override {
    struct NoLog : LogSink {
      void Write(std::string_view) override {}
      void Close() override {}
    };
    return std::make_unique<NoLog>();
  }
  void RowFinished(const RequestRow&, const RowOutcome& outcome) override {
    outcomes.push_back(outcome);
  }
  std::vector<RowOutcome> outcomes;
};

std::vector<std::string> SummaryLines(const std::string& input, const std::string& algorithm,
                                      bool bounds) {
  TPreset printable = NewPreset();
  SetShortString(printable.Name, "Printable");
  std::string alphabet = "\t";
  for (int c = 32; c < 127; ++c) alphabet.push_back(static_cast<char>(c));
  SetShortString(printable.Alphabet, alphabet);
  printable.MinLength = 7;
  PresetList presets;
  presets.Append(printable);
  TaskTable table;
  table.AddTaskRow(true, -1, algorithm, "Printable", "", 0, "0", -1);
  AnalysisRequest request;
  request.rows = CheckedRows(table, presets);
  request.input = input;
  request.format = kDefaultReportFormat;
  request.write_lines = false;
  request.workers = 2;
  // Bounds as the run allows them, or none: the exact ranking.
  request.bound_keys = bounds;
  SummaryObserver host;
  RunRequest(request, host);
  std::vector<std::string> lines;
  std::istringstream text(SummaryTable(host.outcomes));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

// The score column of a summary line ("<B" for a bound).
std::string ScoreField(const std::string& line) {
  const size_t first = line.find('\t') + 1;
  const size_t second = line.find('\t', first) + 1;
  return line.substr(second, line.find('\t', second) - second);
}
// The algorithm and key of a summary line.
std::string KeyFields(const std::string& line) {
  return line.substr(0, line.find('\t', line.find('\t') + 1));
}
// The columns lines, chars and longest.
std::string Counts(const std::string& line) {
  size_t at = 0;
  for (int tab = 0; tab < 3; ++tab) at = line.find('\t', at) + 1;
  size_t end = at;
  for (int tab = 0; tab < 3; ++tab) end = line.find('\t', end) + 1;
  return line.substr(at, end - at);
}

TEST(ScreenedRanking, TheFirstKeysAndTheBandAreThoseOfTheExactRanking) {
  FillAlgorithms();
  // A quarter of a mebibyte of this program, with secrets stored under several ciphers.
  std::ifstream self("/proc/self/exe", std::ios::binary);
  std::string data(std::istreambuf_iterator<char>(self), {});
  data.resize(std::min<size_t>(data.size(), 256 << 10));
  ASSERT_GT(data.size(), 64u << 10);
  const std::string secret = "Global\\HarvestLanternMutex_42";
  for (size_t i = 0; i < secret.size(); ++i) {
    const auto c = static_cast<uint8_t>(secret[i]);
    data[20000 + i] = static_cast<char>(c ^ 0x5A);                                      // XOR8
    data[90000 + i] = static_cast<char>(((c >> 3) | (c << 5)) - 0x31);                  // ADD8ROL
    data[150000 + i] = static_cast<char>(c ^ static_cast<uint8_t>(0x77 + 150000 + i));  // XOR8INC
  }
  const fs::path input =
      fs::temp_directory_path() / ("veskor_screened_" + std::to_string(::getpid()) + ".bin");
  std::ofstream(input, std::ios::binary) << data;
  for (const char* algorithm : {"ANY", "ADD8ROL", "XOR8", "XOR8INC"}) {
    const std::vector<std::string> exact = SummaryLines(input.string(), algorithm, false);
    const std::vector<std::string> screened = SummaryLines(input.string(), algorithm, true);
    ASSERT_EQ(screened.size(), exact.size()) << algorithm;
    const BandScores& bands = RowBands(std::string(algorithm) == "ANY");
    size_t bounded = 0;
    for (size_t i = 0; i < exact.size(); ++i) {
      // The header and the first keys, and every key in the band, as the exact ranking has them.
      if (i <= RankFloor::kExactRanks || std::atof(ScoreField(exact[i]).c_str()) >= bands.maybe) {
        EXPECT_EQ(screened[i], exact[i]) << algorithm << " line " << i;
      }
      if (ScoreField(screened[i])[0] == '<') ++bounded;
    }
    // Every key is there with its own counts, and a bound is above the exact score.
    std::map<std::string, std::string> by_key;
    for (size_t i = 1; i < exact.size(); ++i) by_key[KeyFields(exact[i])] = exact[i];
    for (size_t i = 1; i < screened.size(); ++i) {
      const std::string& line = screened[i];
      ASSERT_EQ(by_key.count(KeyFields(line)), 1u) << line;
      const std::string& other = by_key[KeyFields(line)];
      EXPECT_EQ(Counts(line), Counts(other)) << line;
      if (ScoreField(line)[0] == '<') {
        EXPECT_LT(std::atof(ScoreField(other).c_str()), std::atof(ScoreField(line).c_str() + 1))
            << line << " | " << other;
      } else {
        // A key with its score has the exact summary's line: score and string alike.
        EXPECT_EQ(line, other) << algorithm;
      }
    }
    EXPECT_GT(bounded, 0u) << algorithm;
  }
  fs::remove(input);
}

}  // namespace
}  // namespace veskor
