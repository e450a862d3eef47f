// One key's strings found again: the scan in slices, the index, and the lines.
#include "engine/results/key_strings.h"

#include <algorithm>

#include "engine/search/job_runner.h"
#include "engine/search/key_scan.h"

namespace veskor {
namespace {

// The calling thread's services of a walk: lines to a sink when one is set, no progress, no
// events.
class QuietServices : public ScanServices {
 public:
  ByteSink* sink = nullptr;
  void Write(std::string_view bytes) override {
    if (sink != nullptr) sink->Write(bytes);
  }
  void SetProgress(int) override {}
  void Pace(int64_t) override {}
};

// Thrown by a walk's `take` to end the scan at once.
struct EnoughStrings {};

}  // namespace

struct KeyStrings::Scan {
  Scan(const RunSearch& search, const MappedInput& mapped, const LineMaker& lines,
       const StringFilter& expression, int key)
      : input(mapped.data(), mapped.size(), search.width, search.algorithm, search.fields, lines,
              &expression, uint64_t{1} << 20),
        view(input, key),
        jobs(1, services, std::chrono::hours(1), last_events) {}

  QuietServices services;
  std::chrono::steady_clock::time_point last_events{};
  ScanInput input;
  KeyView view;
  JobRunner jobs;
};

KeyStrings::KeyStrings(const RunSearch& search, int key,
                       std::function<bool(std::string_view)> filter)
    : search_(search), key_(key), filter_(std::move(filter)) {}

KeyStrings::~KeyStrings() = default;

KeyStrings::Status KeyStrings::Open() {
  if (mapped_.Open(search_.input) != MappedInput::Result::kOk) return Status::kCannotRead;
  change_ = CompareStamps(search_.stamp, mapped_.stamp());
  if (change_.any()) return Status::kChanged;
  size_ = mapped_.size();
  lines_ = std::make_unique<RowLineMaker>(search_.format);
  expression_ = std::make_unique<RowFilter>(search_.fields.RegExp);
  scan_ = std::make_unique<Scan>(search_, mapped_, *lines_, *expression_, key_);
  return Status::kReady;
}

double KeyStrings::progress() const {
  return size_ == 0 ? 1.0 : static_cast<double>(scanned_) / static_cast<double>(size_);
}

uint64_t KeyStrings::Walk(uint64_t begin, uint64_t end, const Take& take) {
  uint64_t stopped = end;
  try {
    scan_->jobs.RunAll(1, [&](size_t, JobOutput& out) {
      SpanJudge judge(scan_->input, scan_->view, out);
      try {
        ScanRange(scan_->input, scan_->view, begin, end, false, out, [&](const Span& span) {
          if (!judge.Accepts(span)) return;
          if (filter_ && !filter_(judge.Text(span, kHeldTextBytes))) return;
          if (!take(span, judge)) {
            stopped = span.start;
            throw EnoughStrings();
          }
        });
      } catch (const EnoughStrings&) {
        judge.Flush();
        throw;
      }
      judge.Flush();
    });
  } catch (const EnoughStrings&) {
  }
  return stopped;
}

bool KeyStrings::Advance(uint64_t bytes) {
  if (!scan_ || complete()) return complete();
  const uint64_t end = std::min(size_, scanned_ + std::max<uint64_t>(bytes, 1));
  CheckInput(search_.input, search_.stamp);
  // Counted apart until the check after the slice: the strings of a changed file are not kept.
  std::vector<uint64_t> indexed;
  std::vector<std::pair<uint64_t, uint64_t>> watched;
  uint64_t count = count_;
  Walk(scanned_, end, [&](const Span& span, SpanJudge&) {
    if (count % kIndexStep == 0) indexed.push_back(span.start);
    if (!watch_.empty() && std::binary_search(watch_.begin(), watch_.end(), span.start)) {
      watched.emplace_back(span.start, count);
    }
    ++count;
    return true;
  });
  CheckInput(search_.input, search_.stamp);
  index_.insert(index_.end(), indexed.begin(), indexed.end());
  watched_found_.insert(watched_found_.end(), watched.begin(), watched.end());
  count_ = count;
  scanned_ = end;
  return complete();
}

void KeyStrings::Watch(std::vector<uint64_t> positions) {
  std::sort(positions.begin(), positions.end());
  watch_ = std::move(positions);
}

void KeyStrings::From(uint64_t first, uint64_t n, const Take& take) {
  if (!scan_ || first >= count_ || n == 0) return;
  n = std::min<uint64_t>(n, count_ - first);
  // From the indexed string at or before `first`, which starts a span that no earlier stretch
  // owns, skip to `first` and take n.
  const uint64_t entry = first / kIndexStep;
  uint64_t skip = first - entry * kIndexStep;
  uint64_t taken = 0;
  Walk(index_[entry], size_, [&](const Span& span, SpanJudge& judge) {
    if (skip > 0) {
      --skip;
      return true;
    }
    return take(span, judge) && ++taken < n;
  });
}

std::vector<FoundString> KeyStrings::Get(uint64_t first, size_t n) {
  std::vector<FoundString> found;
  if (!scan_) return found;
  CheckInput(search_.input, search_.stamp);
  From(first, n, [&](const Span& span, SpanJudge& judge) {
    found.push_back(
        {span.start, scan_->input.Characters(span), std::string(judge.Text(span, kShownBytes))});
    return true;
  });
  CheckInput(search_.input, search_.stamp);
  return found;
}

void KeyStrings::WriteLines(uint64_t first, uint64_t n, ByteSink& sink) {
  if (!scan_) return;
  CheckInput(search_.input, search_.stamp);
  scan_->services.sink = &sink;
  struct Detach {
    QuietServices& services;
    ~Detach() { services.sink = nullptr; }
  } detach{scan_->services};
  From(first, n, [&](const Span& span, SpanJudge& judge) {
    judge.Write(span);
    return true;
  });
  CheckInput(search_.input, search_.stamp);
}

}  // namespace veskor
