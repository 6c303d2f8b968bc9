// Throughput of the diff decoder over memory, in MB of output per second,
// against copying the same number of bytes with memcpy in the same run.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "bench/diff_streams.h"
#include "diff/diff_decoder.h"
#include "diff/memory_io.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Best of several runs, to keep the figure clear of scheduling noise.
template <class Work>
double Best(int runs, Work work) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const double seconds = Seconds(start);
    if (seconds < best) best = seconds;
  }
  return best;
}

void Measure(const char* name, const std::vector<uint8_t>& old_file, const std::vector<uint8_t>& diff) {
  MemoryWriter writer;
  writer.bytes.reserve(old_file.size());
  bool ok = true;
  const double decode = Best(7, [&] {
    writer.bytes.clear();
    MemoryReader old_reader(old_file);
    MemoryReader diff_reader(diff);
    ok = ok && DecodeDiff(writer, old_reader, diff_reader);
  });
  std::vector<uint8_t> copy(old_file.size());
  const double baseline = Best(7, [&] { std::memcpy(copy.data(), old_file.data(), old_file.size()); });
  const double megabytes = static_cast<double>(writer.bytes.size()) / 1e6;
  std::printf("%-14s output %.1f MB, diff %.1f MB: decoder %.0f MB/s, memcpy %.0f MB/s, decoder/memcpy time %.1fx%s\n",
              name, megabytes, diff.size() / 1e6, megabytes / decode, megabytes / baseline, decode / baseline,
              ok && writer.bytes.size() == old_file.size() ? "" : "  (DECODE FAILED)");
}

}  // namespace

int main() {
  const std::vector<uint8_t> old_file = bench::Noise(14 << 20, 1);
  Measure("copy-heavy", old_file, bench::MakeDiff(old_file, 4096, 64));
  Measure("literal-heavy", old_file, bench::MakeDiff(old_file, 64, 4096));
  return 0;
}
