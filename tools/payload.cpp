#include "tools/payload.h"

#include <algorithm>

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
    return order < 0 || candidate_size < size ||
           (candidate_size == size && candidate < order);
  }
  void OfferRaw(int candidate, size_t candidate_size) {
    if (candidate_size == 0 || !Better(candidate, candidate_size))
      return;
    order = candidate;
    size = candidate_size;
    compressed = Bytes();
  }
  void OfferCompressed(int candidate, Bytes &&bytes) {
    if (!Better(candidate, bytes.size()))
      return;
    order = candidate;
    size = bytes.size();
    compressed = std::move(bytes);
  }
};

} // namespace

Payload MakePayload(const Bytes *old_file, const Bytes &new_file,
                    const PayloadOptions &options) {
  const auto stage = [&](const char *name) {
    return [&options, name](uint64_t done, uint64_t total) {
      if (options.progress)
        options.progress(name, done, total);
    };
  };
  Choice choice;
  choice.OfferRaw(kRawNew, new_file.size());
  Bytes zlib_new = Compress(new_file, stage("deflating"));
  const size_t zlib_new_size = zlib_new.size();
  choice.OfferCompressed(kCompNew, std::move(zlib_new));

  Bytes diff;
  size_t zlib_diff_size = 0;
  if (old_file != nullptr) {
    DiffOptions diff_options = options.diff;
    diff_options.progress = options.progress;
    diff = WriteDiff(*old_file, new_file, diff_options);
    Bytes zlib_diff = Compress(diff, stage("deflating"));
    zlib_diff_size = zlib_diff.size();
    choice.OfferCompressed(kCompDiff, std::move(zlib_diff));
    choice.OfferRaw(kRawDiff, diff.size());
  }

  if (options.effort == Effort::Best) {
    // Zopfli rarely gains more than 5 % over zlib: only the candidates that
    // zlib ranks within that of the best can win by it.
    const size_t best_zlib = old_file != nullptr
                                 ? std::min(zlib_new_size, zlib_diff_size)
                                 : zlib_new_size;
    const auto close = [&](size_t size) {
      return size * 100 <= best_zlib * 105;
    };
    if (close(zlib_new_size))
      choice.OfferCompressed(kCompNew,
                             CompressBest(new_file, stage("deflating best")));
    if (old_file != nullptr && close(zlib_diff_size))
      choice.OfferCompressed(kCompDiff,
                             CompressBest(diff, stage("deflating best")));
  }

  Payload payload;
  payload.comp = choice.order == kCompNew || choice.order == kCompDiff;
  payload.diff = choice.order == kCompDiff || choice.order == kRawDiff;
  payload.diff_size = payload.diff ? diff.size() : 0;
  if (choice.order == kRawNew) {
    payload.bytes = new_file;
  } else if (choice.order == kRawDiff) {
    payload.bytes = std::move(diff);
  } else {
    payload.bytes = std::move(choice.compressed);
  }
  return payload;
}
