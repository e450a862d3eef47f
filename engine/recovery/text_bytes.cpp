// The byte model of key recovery: hand-set shares of single bytes, and byte pairs counted from
// the text model's own source texts (embedded at build time) around them.
#include "engine/recovery/text_bytes.h"

#include <array>
#include <cmath>
#include <string_view>

#include "recovery_texts.inc"

namespace veskor {
namespace {

// Relative weights of the bytes of text: English letters by their frequency in prose, a space
// in every six or seven bytes, line breaks, and the punctuation, digits and capitals of code,
// settings, markup and URLs, more of them than prose has.
struct Weight {
  std::string_view bytes;
  float each;
};
constexpr Weight kWeights[] = {
    {" ", 150},         {"e", 85},
    {"t", 62},          {"ao", 55},
    {"insr", 48},       {"l", 34},
    {"hd", 30},         {"cu", 25},
    {"mp", 20},         {"\n", 18},
    {"fg", 16},         {".", 14},
    {"wyb", 12},        {"/", 9},
    {"\",=-_:", 7},     {"vk", 7},
    {"0123456789", 5},  {"()<>x", 4},
    {"\t", 4},          {"ACDEILMNOPRST", 4},
    {"BFGHKUVWY", 2.5}, {";'[]{}\\?&*#%@+!$|jqz\r", 1.5},
    {"JQXZ^`~", 0.8},
};
// Of all bytes of text, the share of bytes above 127 (8-bit text, UTF-8), of the other control
// bytes, and of zero bytes.
constexpr float kHighShare = 0.02f, kControlShare = 0.0005f, kZeroShare = 0.000001f;
// How many pairs' worth of the single-byte shares a byte's own pair counts are mixed with.
constexpr float kPairPrior = 8.0f;

struct Model {
  std::array<float, 256> share{};
  std::array<float, 256> bits{};
  std::array<float, 256 * 256> pair_bits{};
  std::array<float, 256> transformed{};

  Model() {
    float total = 0;
    for (const Weight& w : kWeights) {
      for (const char c : w.bytes) {
        share[static_cast<uint8_t>(c)] = w.each;
        total += w.each;
      }
    }
    const float text = 1.0f - kHighShare - kControlShare - kZeroShare;
    int controls = 0;
    for (int b = 1; b < 128; ++b) controls += share[b] == 0;
    for (int b = 0; b < 256; ++b) {
      float p = share[b] * text / total;
      if (b == 0) {
        p = kZeroShare;
      } else if (b >= 128) {
        p = kHighShare / 128;
      } else if (share[b] == 0) {
        p = kControlShare / static_cast<float>(controls);
      }
      share[b] = p;
      bits[b] = std::log2(p);
    }
    transformed = bits;
    WalshTransform(transformed);
    // Byte pairs within lines of the texts; a line that starts with "## " describes its file.
    static std::array<uint32_t, 256 * 256> counts;
    counts.fill(0);
    std::array<uint32_t, 256> firsts{};
    const std::string_view texts(reinterpret_cast<const char*>(kRecoveryTexts),
                                 sizeof kRecoveryTexts);
    for (size_t at = 0; at < texts.size();) {
      size_t end = texts.find('\n', at);
      if (end == std::string_view::npos) end = texts.size();
      const std::string_view line = texts.substr(at, end - at + (end < texts.size()));
      at = end + 1;
      if (line.substr(0, 3) == "## ") continue;
      for (size_t i = 1; i < line.size(); ++i) {
        const auto a = static_cast<uint8_t>(line[i - 1]), b = static_cast<uint8_t>(line[i]);
        ++counts[a * 256 + b];
        ++firsts[a];
      }
    }
    for (int a = 0; a < 256; ++a) {
      for (int b = 0; b < 256; ++b) {
        const float p = (static_cast<float>(counts[a * 256 + b]) + kPairPrior * share[b]) /
                        (static_cast<float>(firsts[a]) + kPairPrior);
        pair_bits[a * 256 + b] = std::log2(p);
      }
    }
  }
};

const Model& TheModel() {
  static const Model model;
  return model;
}

}  // namespace

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VESKOR_WALSH_UNDER_TSAN
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(VESKOR_WALSH_UNDER_TSAN)
#define VESKOR_WALSH_CLONES  // ThreadSanitizer cannot resolve the clones at startup
#else
#define VESKOR_WALSH_CLONES __attribute__((target_clones("avx2", "default")))
#endif

VESKOR_WALSH_CLONES void WalshTransform(std::array<float, 256>& f) {
  for (int half = 1; half < 256; half *= 2) {
    for (int i = 0; i < 256; i += 2 * half) {
      for (int j = i; j < i + half; ++j) {
        const float a = f[j], b = f[j + half];
        f[j] = a + b;
        f[j + half] = a - b;
      }
    }
  }
}

float TextByteBits(uint8_t byte) { return TheModel().bits[byte]; }

float TextPairBits(uint8_t before, uint8_t byte) {
  return TheModel().pair_bits[before * 256 + byte];
}

const float* TextByteTable() { return TheModel().bits.data(); }
const float* TextPairTable() { return TheModel().pair_bits.data(); }
const float* TextByteTransform() { return TheModel().transformed.data(); }

void PrepareTextBytes() { TheModel(); }

}  // namespace veskor
