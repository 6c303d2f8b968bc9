#include "tools/zlib_codec.h"

#include <zlib.h>

#include <stdexcept>

Bytes Compress(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 9) != Z_OK)
    throw std::runtime_error("zlib compression failed");
  out.resize(size);
  return out;
}

bool Inflate(const Bytes& stream, Bytes& out) {
  out.clear();
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  uint8_t buffer[1 << 16];
  int result = Z_OK;
  while (result == Z_OK) {
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    result = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    if (result == Z_OK && z.avail_in == 0 && z.avail_out != 0) result = Z_BUF_ERROR;
  }
  inflateEnd(&z);
  return result == Z_STREAM_END;
}
