// The rows' last results by log path, the keys a Results window lists, and their words.
#include "ui/results/row_results.h"

#include <QStringList>
#include <cstdio>
#include <set>

#include "engine/decoding/algorithms.h"
#include "tasks/task_table.h"
#include "ui/qt_text.h"

namespace veskor {
namespace {

constexpr size_t kBestKeysShown = 3;

}  // namespace

bool RowResult::Unkeyed() const { return search && !search->any && search->algorithm.Unkeyed(); }

std::vector<int> RowResult::ShownKeys() const {
  return summary ? summary->ShownKeys(Unkeyed(), key) : std::vector<int>{};
}

QString KeyText(int key) {
  return QStringLiteral("%1 (0x%2)")
      .arg(key)
      .arg(QString::number(key, 16).toUpper().rightJustified(2, QLatin1Char('0')));
}

QString ShownKeyText(const TAlgorithm& algorithm, int key) {
  // A key of many bytes is its bytes in hex; every other key its number with its hex form.
  return algorithm.Repeating ? QString::fromStdString(veskor::KeyText(algorithm, key))
                             : KeyText(key);
}

TAlgorithm KeyAlgorithm(const RunSearch& search, int key) { return KeyAlgorithmOf(search, key); }

QString ListedKeyText(const RunSearch& search, int key) {
  // NONE and NONEW decode alike under every key: their pair's key says nothing.
  if (search.any && KeyAlgorithm(search, key).Unkeyed()) return QString(QChar(0x2014));
  return ShownKeyText(KeyAlgorithm(search, key), PairKeyOf(search, key));
}

QString NamedKeyText(const RunSearch& search, int key) {
  if (!search.any) return ListedKeyText(search, key);
  if (KeyAlgorithm(search, key).Unkeyed()) return From1251(KeyAlgorithm(search, key).Name);
  return From1251(KeyAlgorithm(search, key).Name) + QLatin1Char(' ') + ListedKeyText(search, key);
}

QString BestKeysText(const RowResult& result) {
  if (result.key || result.Unkeyed() || !result.summary) return QString();
  QStringList keys;
  for (int key : result.summary->Ranking()) {
    const KeySummary& strings = (*result.summary)[key];
    if (keys.size() == kBestKeysShown || strings.Bounded() || strings.Score() <= 0) break;
    keys << (result.search ? NamedKeyText(*result.search, key) : KeyText(key));
  }
  if (keys.isEmpty()) return QString();
  return (keys.size() == 1 ? QStringLiteral("best key ") : QStringLiteral("best keys ")) +
         keys.join(QStringLiteral(", "));
}

void RowResults::Keep(const std::string& log_path, std::shared_ptr<const RowResult> result) {
  if (log_path.empty() || !result) return;
  results_[log_path] = std::move(result);
}

std::shared_ptr<const RowResult> RowResults::Find(const TaskTable& table, int row) const {
  if (row < 0 || row >= table.RowCount()) return nullptr;
  const std::string& log_path = table.LogPath(row);
  if (log_path.empty()) return nullptr;
  const auto found = results_.find(log_path);
  return found == results_.end() ? nullptr : found->second;
}

std::vector<std::shared_ptr<const RowResult>> RowResults::Prune(const TaskTable& table) {
  std::vector<std::shared_ptr<const RowResult>> dropped;
  if (results_.empty()) return dropped;
  std::set<std::string> named;
  for (int row = 0; row < table.RowCount(); ++row) named.insert(table.LogPath(row));
  for (auto it = results_.begin(); it != results_.end();) {
    if (named.count(it->first) != 0) {
      ++it;
      continue;
    }
    dropped.push_back(std::move(it->second));
    it = results_.erase(it);
  }
  return dropped;
}

}  // namespace veskor
