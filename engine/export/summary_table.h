// The ranking of a run's keys as a table: every row's keys, best first, as tab-separated UTF-8,
// what `veskor-scan --summary` prints and the Results window's "Save ranking..." writes.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run/analysis_run.h"

namespace veskor {

// A header line of the column names, then one line per listed key of every row that scanned
// its whole input, rows in the order given. A row whose input could not be read to its end has
// no lines: a ranking of part of a file would read as the ranking of all of it.
std::string SummaryTable(const std::vector<RowOutcome>& outcomes);

// The keys the summary lists, row by row as given and best first within a row: f(algorithm,
// key, summary) for each, the pair's own algorithm and key of an ANY row; at most `top` of each
// row (0: every key).
void ForEachListedKey(const std::vector<RowOutcome>& outcomes, int top,
                      const std::function<void(const TAlgorithm&, int, const KeySummary&)>& f);

// A key as the summary and the records write it: in decimal, or an XORK key as its bytes
// ("0x8c61d263").
std::string ListedKeyText(const TAlgorithm& algorithm, int key);

// A key's score as the table lists it: its score, or "<B" for a key that carries a bound.
std::string ListedScoreText(const KeySummary& key);

// A string's text for a summary column: Windows-1251 taken to UTF-8, its first `max_bytes`
// bytes, with tab, CR, LF and backslash written as \t, \r, \n and \\ and any other byte below 32
// as \xHH.
std::string SummaryText(std::string_view cp1251, size_t max_bytes);

}  // namespace veskor
