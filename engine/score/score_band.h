// What a key's score says to a reader: text, maybe text, or noise, by two thresholds measured on
// the corpus the ranking is tuned on.
#pragma once

namespace veskor {

enum class ScoreBand { kNoise, kMaybe, kText };

// The scores from which a key is "maybe" and "text".
struct BandScores {
  double maybe;
  double text;
};

// Measured with `build/bench/rank_bench --bands` (400 + 200 cases, 40 per harder kind, seed 1),
// on each case's best wrong key, leaving out the keys that read the file's text or the secret in
// the other letter case (they read real text): below kMaybeScore lie all 120 of random bytes
// (the highest 10.8; seed 2, `rank_bench 100 400 2 --bands`: all 220, the highest 9.9), 73% of
// binaries' and 77% of text files'. From kTextScore on lie 0.4% of all 774 (3 of 334 binaries,
// none of the text files and random bytes), and 78% of the true keys of hidden secrets (17%
// maybe, 5% noise: short secrets barely above the text score's threshold) and 99.5% of those
// of whole files.
inline constexpr double kMaybeScore = 12;
inline constexpr double kTextScore = 60;
// The bands of a row that tries the keys of one algorithm.
inline constexpr BandScores kKeyBands{kMaybeScore, kTextScore};
// The bands of an ANY row, which tries every algorithm's keys: about 6,600 pairs, 26 times the
// keys of XOR8, whose noise reaches higher by as much as the best of so many draws does.
// Measured with `build/bench/cipher_bench --kinds=clean --clean=40 --seed-clean=2`: the best
// pair of each of 40 programs of 0.4 to 2 MB with nothing hidden scores at most 20.1 (two above
// 15); "maybe" begins a few bits higher. Text stays where it is: no such pair comes near it.
inline constexpr BandScores kAnyBands{24, kTextScore};

ScoreBand BandOf(double score, const BandScores& bands = kKeyBands);
// The bands of a row: an ANY row's, or those of a row of one algorithm.
inline const BandScores& RowBands(bool any) { return any ? kAnyBands : kKeyBands; }

// "text", "maybe", "noise".
const char* BandName(ScoreBand band);

}  // namespace veskor
