// Makes the authoring tool's payload for one updated file, as a patch carries
// it (MakePayload: the smallest of the whole file and the diff, raw or
// deflated), verifies it by inflating it and rebuilding the new file with the
// patcher's decoder over the paged-reader model, and prints one line:
//   <payload bytes> <diff stream bytes> <seconds> <peak resident KiB>
//   <old-file page loads> <old-file pages> <bytes read by the loads>
//   <diff|whole>
// The time is that of MakePayload alone (the files are read before).
//   bench_diff_size OLD NEW [fast|best] [INDEX_STRIDE] [DIFF_OUT]
// DIFF_OUT, when given, receives the diff stream (inflated). With
// QTR_BENCH_STAGES set, the seconds at which each stage of MakePayload
// started are printed to standard error.
// bench/diff_size.sh runs it next to general binary-diff tools.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "tools/diff/apply_cost.h"
#include "tools/payload/payload.h"
#include "tools/payload/zlib_codec.h"

namespace {

Bytes ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 6) {
    std::fputs("usage: bench_diff_size OLD NEW [fast|best] [INDEX_STRIDE] [DIFF_OUT]\n", stderr);
    return 2;
  }
  const Bytes old_file = ReadFile(argv[1]);
  const Bytes new_file = ReadFile(argv[2]);
  PayloadOptions options;
  if (argc >= 4) options.effort = std::strcmp(argv[3], "fast") == 0 ? Effort::Fast : Effort::Best;
  if (argc >= 5) options.diff.index_stride = static_cast<uint32_t>(std::atoi(argv[4]));
  const auto start = std::chrono::steady_clock::now();
  if (std::getenv("QTR_BENCH_STAGES") != nullptr) {
    options.progress = [&start, last = std::string()](const char* stage, uint64_t, uint64_t) mutable {
      if (last == stage) return;
      last = stage;
      const double at = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::fprintf(stderr, "%8.3f s %s\n", at, stage);
    };
  }
  const ByteSpan old_span(old_file);
  const Payload payload = MakePayload(&old_span, new_file, options);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);

  Bytes inflated;
  bool ok = !payload.comp || Inflate(payload.bytes, inflated);
  if (!payload.comp) inflated = payload.bytes;
  Bytes rebuilt;
  ApplyCost cost;
  if (payload.diff) {
    ok = ok && inflated.size() == payload.diff_size && MeasureApply(old_file, inflated, rebuilt, cost);
  } else {
    rebuilt = std::move(inflated);
  }
  if (!ok || rebuilt != new_file) {
    std::fputs("bench_diff_size: the payload does not rebuild the new file\n", stderr);
    return 1;
  }
  if (argc >= 6 && payload.diff) {
    std::ofstream out(argv[5], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(inflated.data()), static_cast<std::streamsize>(inflated.size()));
  }
  std::printf("%zu %llu %.3f %ld %llu %llu %llu %s\n", payload.bytes.size(),
              static_cast<unsigned long long>(payload.diff_size), seconds, usage.ru_maxrss,
              static_cast<unsigned long long>(cost.page_loads), static_cast<unsigned long long>(cost.old_pages),
              static_cast<unsigned long long>(cost.page_bytes), payload.diff ? "diff" : "whole");
  return 0;
}
