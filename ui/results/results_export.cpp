// The ranking table and the YARA rule of the Results window, through the engine's writers.
#include "ui/results/results_export.h"

#include <QApplication>
#include <QFile>
#include <algorithm>
#include <set>
#include <string_view>

#include "engine/export/summary_table.h"
#include "engine/export/yara_rule.h"
#include "engine/input/file_hash.h"
#include "engine/input/input_check.h"
#include "engine/input/mapped_input.h"
#include "engine/run/log_file.h"
#include "engine/score/score_band.h"
#include "engine/score/text_score.h"
#include "ui/desktop.h"
#include "ui/error_box.h"
#include "ui/qt_text.h"
#include "ui/results/results_window.h"
#include "ui/run_texts.h"

namespace veskor {
namespace {

// The wait cursor while the file is hashed or read.
struct WaitCursor {
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

std::string RankingTable(const RowResult& result) {
  RowOutcome outcome;
  outcome.kind = result.stopped ? RowOutcome::Kind::kStopped : RowOutcome::Kind::kDone;
  outcome.key = result.key;
  outcome.summary = result.summary;
  outcome.search = result.search;
  return SummaryTable({outcome});
}

QString SuggestedRankingPath(const RowResult& result) {
  return QStringLiteral("%1_%2_ranking.tsv")
      .arg(QFile::decodeName(QByteArray::fromStdString(result.search->input)),
           From1251(result.search->algorithm.Name));
}

QString SaveRanking(QWidget* parent, const RowResult& result) {
  const QString path = ChooseFileToSave(parent, SuggestedRankingPath(result));
  if (path.isEmpty()) return {};
  QString note;
  Guarded(parent, [&] {
    LogFile file(QFile::encodeName(path).toStdString());
    file.Write(RankingTable(result));
    file.Close();
    const size_t keys = result.ShownKeys().size();
    note = QStringLiteral("The ranking of %1 saved to %2")
               .arg(keys == 1 ? QStringLiteral("1 key")
                              : GroupedNumber(static_cast<int64_t>(keys)) + QStringLiteral(" keys"),
                    path);
  });
  return note;
}

std::optional<std::string> RuleSource::Rule(int key, const std::vector<FoundString>& strings,
                                            QString& message, RuleStrings* counted) {
  const RunSearch& search = *result_->search;
  const TAlgorithm algorithm = PairSearch(search, key).algorithm;
  const int algorithm_key = PairKeyOf(search, key);
  const KeySummary& summary = (*result_->summary)[key];
  if (summary.Bounded() || BandOf(summary.Score(), RowBands(search.any)) == ScoreBand::kNoise) {
    message = QString::fromUtf8(kNoiseKeyRuleMessage);
    return std::nullopt;
  }
  std::vector<FoundString> evidence;
  for (const FoundString& found : strings) {
    if (TextScore(found.text) > KeySummary::kThresholdBits) evidence.push_back(found);
  }
  if (evidence.empty()) {
    message = QString::fromUtf8(kNoEvidenceRuleMessage);
    return std::nullopt;
  }
  WaitCursor wait;
  MappedInput mapped;
  if (mapped.Open(search.input) != MappedInput::Result::kOk) {
    message = kCannotReadFileMessage;
    return std::nullopt;
  }
  if (const StampChange change = CompareStamps(search.stamp, mapped.stamp()); change.any()) {
    message = FileChangedText(change);
    return std::nullopt;
  }
  if (sha256_.empty()) {
    const std::optional<std::string> hash = Sha256Hex(mapped.data(), mapped.size());
    if (!hash) {
      message = kCannotReadFileMessage;
      return std::nullopt;
    }
    sha256_ = *hash;
  }
  std::vector<BestString> listed;
  for (const FoundString& found : evidence) listed.push_back({found.position, found.length, 0, {}});
  const std::string_view file(reinterpret_cast<const char*>(mapped.data()), mapped.size());
  const std::optional<StoredStrings> stored = CopyStoredStrings(listed, algorithm, file);
  if (!stored) {
    message = kCannotReadFileMessage;
    return std::nullopt;
  }
  // The hash and the bytes are the run's file only if it was still that file once they were read.
  try {
    CheckInput(search.input, search.stamp);
  } catch (const InputChangedError& e) {
    sha256_.clear();
    message = FileChangedText(e.change());
    return std::nullopt;
  }
  // A string the file stores as plain text is left out of the rule, and so is one stored as the
  // same bytes as an earlier one: the rule would write it again.
  std::vector<BestString> hidden;
  std::set<std::string_view> seen;
  for (const BestString& copied : stored->strings) {
    const uint64_t bytes =
        std::min(copied.length, kRuleStringCharacters) * static_cast<uint64_t>(algorithm.Width);
    const std::string_view bytes_stored =
        std::string_view(stored->bytes).substr(copied.position, bytes);
    if (!StoredAsPlainText(bytes_stored) && seen.insert(bytes_stored).second) {
      hidden.push_back(copied);
    }
  }
  if (hidden.empty()) {
    message = QString::fromUtf8(kNoEvidenceRuleMessage);
    return std::nullopt;
  }
  const size_t distinct = hidden.size();
  if (hidden.size() > kMaxRuleStrings) hidden.resize(kMaxRuleStrings);
  if (counted != nullptr) *counted = {hidden.size(), distinct};
  const double score = summary.Score();
  const std::string name = YaraRuleName(sha256_, algorithm, algorithm_key);
  std::optional<std::string> rule =
      YaraRule({sha256_, &algorithm, algorithm_key, score, &hidden, stored->bytes}, name);
  // Every string lay past the file's end: the file is not the one listed.
  if (!rule) message = FileChangedText(ChangeAfterFault(search.input, search.stamp));
  return rule;
}

}  // namespace veskor
