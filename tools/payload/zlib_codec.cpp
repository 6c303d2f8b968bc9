#include "tools/payload/zlib_codec.h"

#include <zlib.h>
#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

#include "tools/common/parallel.h"

namespace {

constexpr size_t kChunk = size_t{1} << 20;
constexpr size_t kWindow = size_t{1} << 15;

void AppendAdler(Bytes& out, uLong adler) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(adler >> shift));
}

uLong AdlerOf(const uint8_t* data, size_t size) {
  uLong adler = adler32(0, nullptr, 0);
  for (size_t done = 0; done < size;) {
    const size_t n = std::min<size_t>(size - done, size_t{1} << 30);
    adler = adler32(adler, data + done, static_cast<uInt>(n));
    done += n;
  }
  return adler;
}

// One deflate call over all of `data` into a whole zlib stream; false as
// soon as its output passes `limit`.
bool DeflateWhole(ByteSpan data, size_t limit, Bytes& out, const DeflateProgress& progress) {
  z_stream z{};
  if (deflateInit(&z, 9) != Z_OK) throw std::runtime_error("zlib compression failed");
  // The output grows as it is written, so that a well compressed input
  // never costs memory for its input's size, nor a small one a whole chunk.
  out.clear();
  const size_t step = std::min<size_t>(kChunk, deflateBound(&z, static_cast<uLong>(std::min(kChunk, data.size))));
  size_t done = 0;
  int result = Z_OK;
  while (result == Z_OK) {
    const size_t take = std::min(kChunk, data.size - done);
    z.next_in = const_cast<Bytef*>(data.data + done);
    z.avail_in = static_cast<uInt>(take);
    done += take;
    const int flush = done == data.size ? Z_FINISH : Z_NO_FLUSH;
    do {
      if (out.size() - z.total_out < step / 4 + 16) out.resize(out.size() + step);
      z.next_out = out.data() + z.total_out;
      z.avail_out = static_cast<uInt>(out.size() - z.total_out);
      result = deflate(&z, flush);
    } while (result == Z_OK && (z.avail_in != 0 || (flush == Z_FINISH && z.avail_out == 0)));
    if (z.total_out > limit) {
      deflateEnd(&z);
      out = Bytes();
      return false;
    }
    if (result == Z_OK && flush == Z_FINISH) continue;
    if (progress) progress(done, data.size);
  }
  const size_t size = z.total_out;
  deflateEnd(&z);
  if (result != Z_STREAM_END) throw std::runtime_error("zlib compression failed");
  out.resize(size);
  out.shrink_to_fit();
  return true;
}

// Part `i` of kChunk bytes as raw deflate data ending on a byte boundary:
// the last part with the final block, every other with a sync flush.
Bytes DeflatePart(ByteSpan data, size_t i) {
  const size_t start = i * kChunk, end = std::min(data.size, start + kChunk);
  const bool last = end == data.size;
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("zlib compression failed");
  const size_t window = std::min(start, kWindow);
  if (window != 0 && deflateSetDictionary(&z, data.data + start - window, static_cast<uInt>(window)) != Z_OK) {
    deflateEnd(&z);
    throw std::runtime_error("zlib compression failed");
  }
  Bytes out(deflateBound(&z, static_cast<uLong>(end - start)) + 16);
  z.next_in = const_cast<Bytef*>(data.data + start);
  z.avail_in = static_cast<uInt>(end - start);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
  const bool ok = last ? result == Z_STREAM_END : result == Z_OK && z.avail_in == 0 && z.avail_out != 0;
  out.resize(z.total_out);
  deflateEnd(&z);
  if (!ok) throw std::runtime_error("zlib compression failed");
  return out;
}

}  // namespace

bool CompressWithin(ByteSpan data, size_t limit, Bytes& out, const DeflateProgress& progress, unsigned threads) {
  if (data.size <= kChunk) return DeflateWhole(data, limit, out, progress);
  // The parts in order; a thread stops once the parts done so far are
  // already longer than the limit, which any longer set of them would be
  // too, so the answer does not depend on which parts were done.
  const size_t count = (data.size + kChunk - 1) / kChunk;
  std::vector<Bytes> parts(count);
  std::vector<uLong> adlers(count);
  std::atomic<size_t> written{2 + 4};
  std::atomic<bool> over{false};
  ParallelFor(
      count, threads,
      [&](size_t i) {
        if (over) return;
        parts[i] = DeflatePart(data, i);
        const size_t start = i * kChunk;
        adlers[i] = AdlerOf(data.data + start, std::min(kChunk, data.size - start));
        if ((written += parts[i].size()) > limit) over = true;
      },
      [&](size_t done) {
        if (progress) progress(std::min(data.size, done * kChunk), data.size);
      });
  out.clear();
  if (over) return false;
  size_t total = 2 + 4;
  for (const Bytes& part : parts) total += part.size();
  out.reserve(total);
  out.push_back(0x78);
  out.push_back(0xDA);
  uLong adler = adlers[0];
  for (size_t i = 0; i < count; ++i) {
    out.insert(out.end(), parts[i].begin(), parts[i].end());
    parts[i] = Bytes();
    const size_t length = std::min(kChunk, data.size - i * kChunk);
    if (i > 0) adler = adler32_combine(adler, adlers[i], static_cast<z_off_t>(length));
  }
  AppendAdler(out, adler);
  return true;
}

Bytes Compress(ByteSpan data, const DeflateProgress& progress, unsigned threads) {
  Bytes out;
  CompressWithin(data, SIZE_MAX, out, progress, threads);
  return out;
}

Bytes CompressBest(ByteSpan data, const DeflateProgress& progress) {
  if (progress) progress(0, data.size);
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(12);
  if (compressor == nullptr) throw std::runtime_error("libdeflate compression failed");
  // The bound is about the input's size; of a buffer left unwritten, only
  // the pages the stream fills take memory.
  const size_t bound = libdeflate_zlib_compress_bound(compressor, data.size);
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[bound]);
  const size_t size = libdeflate_zlib_compress(compressor, data.data, data.size, buffer.get(), bound);
  libdeflate_free_compressor(compressor);
  if (size == 0) throw std::runtime_error("libdeflate compression failed");
  if (progress) progress(data.size, data.size);
  return Bytes(buffer.get(), buffer.get() + size);
}

bool Inflate(ByteSpan stream, Bytes& out) {
  out.clear();
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  uint8_t buffer[1 << 16];
  int result = Z_OK;
  size_t fed = 0;
  while (result == Z_OK) {
    if (z.avail_in == 0 && fed < stream.size) {
      const size_t n = std::min<size_t>(stream.size - fed, size_t{1} << 30);
      z.next_in = const_cast<Bytef*>(stream.data + fed);
      z.avail_in = static_cast<uInt>(n);
      fed += n;
    }
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    result = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    if (result == Z_OK && z.avail_in == 0 && fed == stream.size && z.avail_out != 0) result = Z_BUF_ERROR;
  }
  inflateEnd(&z);
  return result == Z_STREAM_END;
}
