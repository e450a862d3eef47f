// Throughput of the scanners on a generated file: the production scanner against the reference
// and against a plain read pass over the same mapped bytes, measured in one run.
//
//   build/bench/scan_bench [MiB]     (default 64)
#include <sys/mman.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "engine/decoding/algorithms.h"
#include "engine/run/row_line_maker.h"
#include "engine/search/reference_scanner.h"
#include "engine/search/row_search.h"
#include "report/report_format.h"

namespace veskor {
namespace {

// Takes the lines, formatted with the default format as the run does, and drops them.
class BenchServices : public ScanServices {
 public:
  uint64_t bytes = 0;
  void Write(std::string_view piece) override { bytes += piece.size(); }
  void SetProgress(int) override {}
  void Pace(int64_t) override {}
};

double Seconds(const std::function<void()>& body) {
  const auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace
}  // namespace veskor

int main(int argc, char** argv) {
  using namespace veskor;
  const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const size_t size = mib << 20;
  auto* data = static_cast<uint8_t*>(
      ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  std::mt19937_64 rng(42);
  for (size_t i = 0; i + 8 <= size; i += 8) {
    const uint64_t v = rng();
    std::memcpy(data + i, &v, 8);
  }
  // A few dozen digit strings hidden under XOR8 with key 0x5A.
  for (int i = 0; i < 40; ++i) {
    const size_t at = rng() % (size - 64);
    for (int j = 0; j < 12; ++j) data[at + j] = static_cast<uint8_t>(('0' + j % 10) ^ 0x5A);
  }
  FillAlgorithms();
  const TAlgorithm& xor8 = Algorithms[0];
  SearchFields fields;
  fields.Alphabet = "0123456789";
  fields.MinLength = 7;

  BenchServices services;
  const RowLineMaker lines(kDefaultReportFormat);
  TScanContext context = ContextOver(data, size, services, lines);

  uint64_t sum = 0;
  const double read_pass = Seconds([&] {
    const auto* words = reinterpret_cast<const uint64_t*>(data);
    for (size_t i = 0; i < size / 8; ++i) sum += words[i];
  });
  auto one_key = [&](auto pass) {
    context.Key = 0x5A;
    context.SingleKey = true;
    context.Found = 0;
    return Seconds([&] { pass(context); });
  };
  const double production_one = one_key([&](TScanContext& c) { ScanPass(xor8, fields, c); });
  const int64_t found_one = context.Found;
  const double reference_one =
      one_key([&](TScanContext& c) { ScanPassReference(xor8, fields, c); });
  const int64_t reference_found = context.Found;
  context.SingleKey = false;
  context.Found = 0;
  const double production_all = Seconds([&] {
    for (int k = 1; k <= 255; ++k) {
      context.Key = static_cast<uint8_t>(k);
      ScanPass(xor8, fields, context);
    }
  });
  const int64_t found_all = context.Found;

  const double gib = static_cast<double>(size) / (1 << 30);
  std::printf(
      "scan_bench: %zu MiB of random bytes, 40 digit strings under XOR8 key 0x5A,\n"
      "alphabet 0123456789, MinLength 7, default format (checksum %llu)\n\n",
      mib, static_cast<unsigned long long>(sum & 0xFF));
  std::printf("%-32s %10s %10s %12s\n", "measure", "seconds", "GiB/s", "ratio");
  std::printf("%-32s %10.3f %10.2f %12s\n", "plain read pass (64-bit sums)", read_pass,
              gib / read_pass, "1.00 (base)");
  std::printf("%-32s %10.3f %10.2f %9.2f x rd\n", "production, one key", production_one,
              gib / production_one, production_one / read_pass);
  std::printf("%-32s %10.3f %10.2f %9.2f x rd\n", "reference, one key", reference_one,
              gib / reference_one, reference_one / read_pass);
  std::printf("%-32s %10.3f %10.2f %9.2f x 1k\n", "production, keys 1 to 255", production_all,
              255 * gib / production_all, production_all / production_one);
  std::printf("\nproduction one key is %.1f times faster than the reference\n",
              reference_one / production_one);
  std::printf("production all keys: %.1f times faster than 255 reference passes\n",
              255 * reference_one / production_all);
  std::printf("lines: one key %lld (reference %lld), all keys %lld\n",
              static_cast<long long>(found_one), static_cast<long long>(reference_found),
              static_cast<long long>(found_all));
  return found_one == reference_found ? 0 : 1;
}
