// The band of a key's score.
#include "engine/score/score_band.h"

namespace veskor {

ScoreBand BandOf(double score) {
  if (score >= kTextScore) return ScoreBand::kText;
  if (score >= kMaybeScore) return ScoreBand::kMaybe;
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
