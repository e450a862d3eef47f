// The band of a key's score.
#include "engine/score/score_band.h"

namespace veskor {

ScoreBand BandOf(double score, const BandScores& bands) {
  if (score >= bands.text) return ScoreBand::kText;
  if (score >= bands.maybe) return ScoreBand::kMaybe;
  return ScoreBand::kNoise;
}

const char* BandName(ScoreBand band) {
  switch (band) {
    case ScoreBand::kText:
      return "text";
    case ScoreBand::kMaybe:
      return "maybe";
    default:
      return "noise";
  }
}

}  // namespace veskor
