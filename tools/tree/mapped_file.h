#pragma once
// A file's bytes for reading: a file of 4 MiB or more mapped into memory
// where the system allows it, so that a file of a GiB costs no copy and its
// pages come from the file cache as they are read; smaller files, and any
// the system cannot map, read into memory.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "tools/common/byte_span.h"

class FileData {
 public:
  // Maps (or reads) the whole file at `path`, which must have `size` bytes.
  // Raises AuthoringError when it cannot be opened or read, or has another
  // size; `origin` names it in the message.
  static std::shared_ptr<const FileData> Open(const std::filesystem::path& path, uint64_t size,
                                              const std::string& origin);
  // Bytes already in memory, shared.
  static std::shared_ptr<const FileData> Hold(std::shared_ptr<const Bytes> bytes);

  ~FileData();
  FileData(const FileData&) = delete;
  FileData& operator=(const FileData&) = delete;

  ByteSpan span() const { return span_; }
  const uint8_t* data() const { return span_.data; }
  size_t size() const { return span_.size; }

  // Gives the mapped pages that lie wholly inside [from, to) back to the
  // file cache: the process's memory no longer counts them, and a later read
  // maps them again. A pass over a large file calls it behind itself, so that
  // the file never stays resident in the process as a whole. Does nothing
  // for bytes in memory.
  void Release(size_t from, size_t to) const;

 private:
  FileData() = default;
  ByteSpan span_;
  std::shared_ptr<const Bytes> held_;  // bytes in memory, or a file that could not be mapped
  void* map_ = nullptr;                // the mapping's base
  size_t map_size_ = 0;
};
