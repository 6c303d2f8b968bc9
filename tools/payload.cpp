#include "tools/payload.h"

#include <algorithm>
#include <cstdint>

#include "tools/zlib_codec.h"

namespace {

// Candidate order, which decides between equal sizes.
enum Order { kRawNew, kCompNew, kCompDiff, kRawDiff };

// The smallest candidate so far. A raw candidate is kept as a reference to
// its bytes, so that choosing costs no copy of the file.
struct Choice {
  int order = -1;
  size_t size = 0;
  Bytes compressed;

  bool Better(int candidate, size_t candidate_size) const {
    return order < 0 || candidate_size < size || (candidate_size == size && candidate < order);
  }
  void OfferRaw(int candidate, size_t candidate_size) {
    if (candidate_size == 0 || !Better(candidate, candidate_size)) return;
    order = candidate;
    size = candidate_size;
    compressed = Bytes();
  }
  void OfferCompressed(int candidate, Bytes&& bytes) {
    if (!Better(candidate, bytes.size())) return;
    order = candidate;
    size = bytes.size();
    compressed = std::move(bytes);
  }
};

}  // namespace

Payload MakePayload(const ByteSpan* old_file, ByteSpan new_file, const PayloadOptions& options) {
  const auto stage = [&](const char* name) {
    return [&options, name](uint64_t done, uint64_t total) {
      if (options.progress) options.progress(name, done, total);
    };
  };
  Bytes diff;
  if (old_file != nullptr) {
    DiffOptions diff_options = options.diff;
    diff_options.progress = options.progress;
    diff_options.threads = options.threads;
    diff = WriteDiff(*old_file, new_file, diff_options);
  }
  const bool best = options.effort == Effort::Best;
  // Zopfli rarely gains more than 5 % over zlib, so a candidate that zlib
  // ranks more than 5 % behind another is not deflated again. A diff more
  // than that below the deflated file needs no zlib ranking: only zopfli
  // deflates it.
  const auto behind = [](size_t size, size_t other) { return size * 100 > other * 105; };
  // The whole file deflated counts only while it is no longer than the raw
  // diff (which wins over it otherwise), and in Best while it is not more
  // than 5 % behind it (which decides what zopfli deflates): a deflate that
  // passes that length stops there.
  size_t limit = SIZE_MAX;
  if (old_file != nullptr && !diff.empty()) limit = best ? diff.size() * 105 / 100 : diff.size();
  Bytes zlib_new;
  const bool zlib_new_counts = CompressWithin(new_file, limit, zlib_new, stage("deflating"), options.threads);

  Choice choice;
  choice.OfferRaw(kRawNew, new_file.size);
  const size_t zlib_new_size = zlib_new.size();
  if (zlib_new_counts) choice.OfferCompressed(kCompNew, std::move(zlib_new));
  if (old_file != nullptr) choice.OfferRaw(kRawDiff, diff.size());
  const bool diff_far_ahead = best && old_file != nullptr && !zlib_new_counts;
  size_t zlib_diff_size = 0;
  if (old_file != nullptr && !diff_far_ahead) {
    Bytes zlib_diff = Compress(diff, stage("deflating"), options.threads);
    zlib_diff_size = zlib_diff.size();
    choice.OfferCompressed(kCompDiff, std::move(zlib_diff));
  }
  if (best && (old_file == nullptr || (!diff_far_ahead && !behind(zlib_new_size, zlib_diff_size))))
    choice.OfferCompressed(kCompNew, CompressBest(new_file, stage("deflating best"), options.threads));
  if (best && old_file != nullptr && (diff_far_ahead || !behind(zlib_diff_size, zlib_new_size)))
    choice.OfferCompressed(kCompDiff, CompressBest(diff, stage("deflating best"), options.threads));

  Payload payload;
  payload.comp = choice.order == kCompNew || choice.order == kCompDiff;
  payload.diff = choice.order == kCompDiff || choice.order == kRawDiff;
  payload.diff_size = payload.diff ? diff.size() : 0;
  if (choice.order == kRawNew) {
    payload.bytes.assign(new_file.begin(), new_file.end());
  } else if (choice.order == kRawDiff) {
    payload.bytes = std::move(diff);
  } else {
    payload.bytes = std::move(choice.compressed);
  }
  return payload;
}
