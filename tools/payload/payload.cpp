#include "tools/payload/payload.h"

#include <algorithm>
#include <cstdint>

#include "tools/payload/zlib_codec.h"

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
  const auto deflate = [&](const Bytes& data) {
    return best ? CompressBest(data, stage("deflating best")) : Compress(data, stage("deflating"), options.threads);
  };
  Choice choice;
  choice.OfferRaw(kRawNew, new_file.size);
  if (old_file != nullptr) {
    choice.OfferRaw(kRawDiff, diff.size());
    choice.OfferCompressed(kCompDiff, deflate(diff));
  }
  // zlib's deflate of the whole file counts only while it could still win,
  // and in Best while it is within 5 % of the best so far, which the
  // strongest deflate rarely gains on it: a deflate that passes that length
  // stops there. A changed file's diff is mostly far ahead, and its whole
  // file is then deflated only a small part of the way.
  const size_t limit =
      choice.order < 0 ? SIZE_MAX : best ? choice.size / 100 * 105 + choice.size % 100 * 105 / 100 : choice.size;
  Bytes zlib_new;
  if (CompressWithin(new_file, limit, zlib_new, stage("deflating"), options.threads)) {
    choice.OfferCompressed(kCompNew, std::move(zlib_new));
    if (best) choice.OfferCompressed(kCompNew, CompressBest(new_file, stage("deflating best")));
  }

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
