#include "tools/model/rebuilt_file.h"

#include <algorithm>

RebuiltFile::RebuiltFile(const TreeFile* expected, std::function<void(uint64_t)> written)
    : expected_(expected), written_(std::move(written)) {
  if (expected_ != nullptr) expected_data_ = expected_->Load();
}

TreeFile RebuiltFile::File() {
  const uint32_t crc = static_cast<uint32_t>(crc_);
  if (expected_ == nullptr) return TreeFile(std::move(kept_));
  if (equal_ && size_ == expected_data_->size()) {
    expected_->NoteCrc(crc);
    return *expected_;
  }
  return TreeFile::DigestDiffering(size_, crc, *expected_);
}

bool RebuiltFile::Take(const uint8_t* bytes, size_t count) {
  crc_ = crc32(crc_, bytes, static_cast<uInt>(count));
  if (expected_ == nullptr) {
    kept_.insert(kept_.end(), bytes, bytes + count);
  } else if (equal_) {
    equal_ = size_ + count <= expected_data_->size() &&
             std::equal(bytes, bytes + count, expected_data_->data() + size_);
  }
  if (written_ && (size_ + count) / kReportEvery != size_ / kReportEvery) written_(size_ + count);
  size_ += count;
  if (expected_data_ && size_ - released_ >= kReleaseEvery) {
    expected_data_->Release(0, static_cast<size_t>(size_));
    released_ = size_;
  }
  return true;
}
