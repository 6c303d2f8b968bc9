// Makes the authoring tool's patch payload for one file pair, the way a patch
// carries an updated file (diff stream, deflated at level 9), verifies it by
// inflating and decoding with the patcher's decoder, and prints one line:
//   <payload bytes> <diff stream bytes> <seconds> <peak resident KiB>
// Optional further arguments set the matcher's min_copy and min_gain, for
// tuning.
// bench/diff_size.sh runs it next to general binary-diff tools.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "diff/diff_decoder.h"
#include "diff/memory_io.h"
#include "tools/diff_writer.h"
#include "tools/zlib_codec.h"

namespace {

Bytes ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::fputs("usage: bench_diff_size OLD NEW [MIN_COPY [MIN_GAIN]]\n", stderr);
    return 2;
  }
  const Bytes old_file = ReadFile(argv[1]);
  const Bytes new_file = ReadFile(argv[2]);
  const auto start = std::chrono::steady_clock::now();
  DiffOptions options;
  if (argc >= 4) options.min_copy = static_cast<uint32_t>(std::atoi(argv[3]));
  if (argc >= 5) options.min_gain = static_cast<uint32_t>(std::atoi(argv[4]));
  const Bytes diff = WriteDiff(old_file, new_file, options);
  const Bytes payload = Compress(diff);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  Bytes inflated;
  MemoryReader old_reader(old_file);
  MemoryWriter writer;
  bool ok = Inflate(payload, inflated);
  MemoryReader diff_reader(inflated);
  ok = ok && DecodeDiff(writer, old_reader, diff_reader) && writer.bytes == new_file;
  if (!ok) {
    std::fputs("bench_diff_size: the diff does not rebuild the new file\n", stderr);
    return 1;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%zu %zu %.3f %ld\n", payload.size(), diff.size(), seconds, usage.ru_maxrss);
  return 0;
}
