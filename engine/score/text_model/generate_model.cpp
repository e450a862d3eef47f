// Builds the text model of engine/score/text_score from the texts and word lists of this folder and
// writes it as a C++ include file: a variable-order byte model compiled into an automaton.
//
//   generate_model OUTPUT WORDS TEXT...
//
// WORDS is the sectioned word list (words.txt); each TEXT is hand-written text, whose lines
// starting with "## " are notes about the file. All inputs are UTF-8 and are converted to
// Windows-1251. The program reads nothing else, and the same inputs always give the same output.
// The generated lines that join the texts come from the composer (text_composer.h).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/score/text_model/text_composer.h"
#include "text/cp1251.h"

namespace {

// Longest context the model conditions on (so it predicts from up to this many bytes before).
constexpr size_t kMaxContext = 4;
// Most automaton states; every state holds one row of 256 entries of 4 bytes.
constexpr size_t kMaxStates = 4096;
// A context becomes a state only when it was followed by a byte this many times.
constexpr uint32_t kMinContextCount = 6;
// Absolute discount of the interpolated estimate.
constexpr double kDiscount = 0.75;
// Weight of the uniform distribution mixed into the one-byte (unigram) estimate, in counts.
constexpr double kUniformCounts = 64.0;
// Hand-written texts are repeated this often, so that they weigh against the generated text.
constexpr int kTextRepeats = 4;
// Score units: entries hold the log-likelihood ratio against a uniform byte in 1/64 bit.
constexpr double kUnitsPerBit = 64.0;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Counts of every n-gram of 1 to kMaxContext + 1 bytes inside a line; contexts never cross a
// line break, and a line starts at the empty context.
struct Counts {
  std::unordered_map<std::string, uint32_t> ngram;    // context followed by one byte
  std::unordered_map<std::string, uint32_t> context;  // how often each context was followed
  uint64_t bytes = 0;
};

Counts CountLines(const std::vector<std::string>& lines) {
  Counts counts;
  for (const std::string& line : lines) {
    for (size_t i = 0; i < line.size(); ++i) {
      ++counts.bytes;
      for (size_t n = 0; n <= kMaxContext && n <= i; ++n) {
        ++counts.ngram[line.substr(i - n, n + 1)];
        ++counts.context[line.substr(i - n, n)];
      }
    }
  }
  return counts;
}

// Interpolated absolute discounting over the suffixes of a context.
class Estimator {
 public:
  explicit Estimator(const Counts& counts) : counts_(counts) {}

  double Probability(const std::string& context, uint8_t byte) {
    const std::string key = context + static_cast<char>(byte);
    auto cached = cache_.find(key);
    if (cached != cache_.end()) return cached->second;
    double p;
    if (context.empty()) {
      const double seen = Count(std::string(1, static_cast<char>(byte)));
      p = (seen + kUniformCounts / 256.0) / (static_cast<double>(counts_.bytes) + kUniformCounts);
    } else {
      const double total = ContextCount(context);
      const double lower = Probability(context.substr(1), byte);
      if (total == 0) {
        p = lower;
      } else {
        const double seen = Count(key);
        p = std::max(seen - kDiscount, 0.0) / total +
            kDiscount * Followers(context) / total * lower;
      }
    }
    cache_.emplace(key, p);
    return p;
  }

 private:
  double Count(const std::string& ngram) const {
    auto it = counts_.ngram.find(ngram);
    return it == counts_.ngram.end() ? 0 : it->second;
  }
  double ContextCount(const std::string& context) const {
    auto it = counts_.context.find(context);
    return it == counts_.context.end() ? 0 : it->second;
  }
  // How many different bytes followed the context.
  double Followers(const std::string& context) {
    auto it = followers_.find(context);
    if (it != followers_.end()) return it->second;
    int n = 0;
    for (int b = 0; b < 256; ++b) n += Count(context + static_cast<char>(b)) > 0;
    followers_.emplace(context, n);
    return n;
  }

  const Counts& counts_;
  std::unordered_map<std::string, double> cache_;
  std::unordered_map<std::string, double> followers_;
};

// The states: the empty context, then the most frequent contexts (shorter first among equal
// counts). Every prefix and suffix of a context is at least as frequent, so the chosen set is
// closed under both, which keeps the automaton's state the longest chosen suffix of the input.
std::vector<std::string> ChooseStates(const Counts& counts) {
  std::vector<std::pair<std::string, uint32_t>> candidates;
  for (const auto& [context, count] : counts.context) {
    if (!context.empty() && count >= kMinContextCount) candidates.emplace_back(context, count);
  }
  std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
    if (a.second != b.second) return a.second > b.second;
    if (a.first.size() != b.first.size()) return a.first.size() < b.first.size();
    return a.first < b.first;
  });
  std::vector<std::string> states{""};
  for (const auto& candidate : candidates) {
    if (states.size() == kMaxStates) break;
    states.push_back(candidate.first);
  }
  return states;
}

void WriteModel(const std::string& path, const std::vector<std::string>& states,
                Estimator& estimator, const Counts& counts, size_t corpus_bytes) {
  std::unordered_map<std::string, uint32_t> index;
  for (size_t s = 0; s < states.size(); ++s) index.emplace(states[s], static_cast<uint32_t>(s));
  std::string out;
  out += "// Generated by engine/score/text_model/generate_model from the texts of that folder.\n";
  out += "// Do not edit: change the texts or the generator.\n";
  // Columns in order of byte frequency, so that the entries text uses most share a few cache
  // lines of each row.
  std::vector<int> by_frequency(256);
  for (int b = 0; b < 256; ++b) by_frequency[b] = b;
  auto frequency = [&](int b) {
    auto it = counts.ngram.find(std::string(1, static_cast<char>(b)));
    return it == counts.ngram.end() ? 0u : it->second;
  };
  std::stable_sort(by_frequency.begin(), by_frequency.end(),
                   [&](int a, int b) { return frequency(a) > frequency(b); });
  std::vector<int> column(256);
  for (int c = 0; c < 256; ++c) column[by_frequency[c]] = c;
  char line[1024];
  std::snprintf(line, sizeof(line),
                "inline constexpr int kModelStates = %zu;\n"
                "inline constexpr int kModelMaxContext = %zu;\n"
                "inline constexpr float kModelUnitsPerBit = %.1ff;\n"
                "inline constexpr long kModelCorpusBytes = %zu;\n"
                "// The column of each byte value.\n"
                "alignas(64) static const uint8_t kModelColumn[256] = {\n",
                states.size(), kMaxContext, kUnitsPerBit, corpus_bytes);
  out += line;
  for (int b = 0; b < 256; ++b) {
    std::snprintf(line, sizeof(line), "%d,%s", column[b], b % 16 == 15 ? "\n" : "");
    out += line;
  }
  std::snprintf(line, sizeof(line),
                "};\n"
                "// Row s, column c: (next state << 16) | (uint16_t) score in units.\n"
                "alignas(64) static const uint32_t kModelTable[%zu] = {\n",
                states.size() * 256);
  out += line;
  double covered = 0;
  for (size_t s = 0; s < states.size(); ++s) {
    const std::string& context = states[s];
    for (int c = 0; c < 256; ++c) {
      const int b = by_frequency[c];
      const double p = estimator.Probability(context, static_cast<uint8_t>(b));
      covered += s == 0 ? p : 0;
      const double bits = std::log2(p) + 8.0;
      const long units = std::lround(std::clamp(bits * kUnitsPerBit, -32768.0, 32767.0));
      std::string next = context + static_cast<char>(b);
      if (next.size() > kMaxContext) next.erase(0, next.size() - kMaxContext);
      while (!index.count(next)) next.erase(0, 1);
      const uint32_t entry = (index.at(next) << 16) | static_cast<uint16_t>(units);
      std::snprintf(line, sizeof(line), "%u,", entry);
      out += line;
      if (c % 16 == 15) out += '\n';
    }
  }
  out += "};\n";
  std::ofstream file(path, std::ios::binary);
  file << out;
  if (!file) throw std::runtime_error("cannot write " + path);
  std::fprintf(stderr,
               "text model: %zu corpus bytes, %zu distinct contexts, %zu states, "
               "root probability sum %.6f\n",
               corpus_bytes, counts.context.size(), states.size(), covered);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: generate_model OUTPUT WORDS TEXT...\n");
    return 2;
  }
  try {
    std::vector<std::string> corpus;
    for (int i = 3; i < argc; ++i) {
      const std::string text = veskor::Utf8ToCp1251(ReadFile(argv[i]));
      for (int repeat = 0; repeat < kTextRepeats; ++repeat) {
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
          if (!line.empty() && !line.starts_with("## ")) corpus.push_back(line);
        }
      }
    }
    AddComposedLines(veskor::Utf8ToCp1251(ReadFile(argv[2])), corpus);
    size_t corpus_bytes = 0;
    for (const std::string& line : corpus) corpus_bytes += line.size();
    const Counts counts = CountLines(corpus);
    Estimator estimator(counts);
    WriteModel(argv[1], ChooseStates(counts), estimator, counts, corpus_bytes);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "generate_model: %s\n", e.what());
    return 1;
  }
  return 0;
}
