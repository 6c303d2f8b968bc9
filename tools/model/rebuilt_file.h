#pragma once
// A file rebuilt from a diff in the model's run. When the run's hooks name
// the file it should become, the bytes are compared with that file's as
// they come and not kept: the result is then that file itself, or a digest
// known to differ from it. Otherwise they are kept in memory. The CRC-32 is
// taken as they come. The compared file's pages are given back behind the
// comparison, so that of the two only the old file, which a diff may read
// anywhere, becomes resident as a whole.
#include <zlib.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "tools/diff/apply_cost.h"
#include "tools/tree/file_tree.h"

class RebuiltFile {
 public:
  // `expected` may be null; `written` is told the bytes taken so far now
  // and then, and may be empty.
  RebuiltFile(const TreeFile* expected, std::function<void(uint64_t)> written);
  RebuiltFile(const RebuiltFile&) = delete;
  RebuiltFile& operator=(const RebuiltFile&) = delete;

  // Where the decoder puts the rebuilt bytes.
  const RebuiltSink& Sink() const { return sink_; }
  uint64_t size() const { return size_; }
  // The rebuilt file, once the decoder is done.
  TreeFile File();

 private:
  static constexpr uint64_t kReleaseEvery = uint64_t{64} << 20;
  static constexpr uint64_t kReportEvery = uint64_t{16} << 20;

  bool Take(const uint8_t* bytes, size_t count);

  const TreeFile* expected_;
  const std::function<void(uint64_t)> written_;
  std::shared_ptr<const FileData> expected_data_;
  Bytes kept_;
  uLong crc_ = crc32(0, Z_NULL, 0);
  uint64_t size_ = 0, released_ = 0;
  bool equal_ = true;
  const RebuiltSink sink_ = [this](const uint8_t* bytes, size_t count) { return Take(bytes, count); };
};
