// The run's numbers in words: grouped digits, string counts and the progress line.
#include "ui/run_texts.h"

#include "engine/decoding/algorithms.h"
#include "engine/run/run_search.h"
#include "ui/qt_text.h"

namespace veskor {

QString GroupedNumber(int64_t value) {
  // Grouped here rather than by the locale: the window's texts are English whatever the desktop.
  const QString digits = QString::number(value < 0 ? -static_cast<uint64_t>(value) : value);
  QString grouped;
  for (qsizetype i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += QLatin1Char(',');
    grouped += digits[i];
  }
  return value < 0 ? QLatin1Char('-') + grouped : grouped;
}

QString StringCountText(int64_t count) {
  return GroupedNumber(count) +
         (count == 1 ? QStringLiteral(" string") : QStringLiteral(" strings"));
}

QString RunProgressText(const QString& algorithm, bool single_key, int key, int64_t lines,
                        int percent) {
  // An ANY row goes through every algorithm's keys in turn, and writes its lines only once it has
  // ranked them all: neither its key nor its count says how far it is, its share does.
  if (To1251(algorithm) == kAnyAlgorithmName) {
    return algorithm + QStringLiteral(": every algorithm over all keys, %1% done").arg(percent);
  }
  TAlgorithm named;
  // An XORK row's keys are the places of the keys its file gave away, as many as it found.
  if (FindAlgorithm(To1251(algorithm), named) && named.Repeating) {
    if (single_key) return QStringLiteral("%1: %2").arg(algorithm, StringCountText(lines));
    return QStringLiteral("%1: found key %2, %3")
        .arg(algorithm)
        .arg(key)
        .arg(StringCountText(lines));
  }
  if (FindAlgorithm(To1251(algorithm), named) && !named.ByteKey) {
    const QString key_text = QString::fromStdString(KeyText(named, key));
    if (single_key)
      return QStringLiteral("%1 key %2: %3").arg(algorithm, key_text, StringCountText(lines));
    return QStringLiteral("%1: key %2 of %3, %4")
        .arg(algorithm, key_text, QString::fromStdString(KeyText(named, named.LastKey)),
             StringCountText(lines));
  }
  if (single_key)
    return QStringLiteral("%1 key %2: %3").arg(algorithm).arg(key).arg(StringCountText(lines));
  // The one-byte keys are searched together in one pass over the file: no key is the current
  // one, and the share of the file says how far the pass is.
  return QStringLiteral("%1: all %2 keys at once, %3% done, %4")
      .arg(algorithm)
      .arg(FindAlgorithm(To1251(algorithm), named) ? named.KeyCount() : 255)
      .arg(percent)
      .arg(StringCountText(lines));
}

}  // namespace veskor
