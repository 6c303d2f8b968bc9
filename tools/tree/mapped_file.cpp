#include "tools/tree/mapped_file.h"

#include <algorithm>
#include <cstdint>
#include <fstream>

#include "tools/common/authoring_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Smaller files are read: a mapping costs more than the copy there, and
// unmapping, with other threads running, costs every core a pause.
constexpr uint64_t kMapFrom = uint64_t{4} << 20;

// Reads the file into memory: where mapping fails (a 32-bit process short
// of address space, a file system that cannot map).
std::shared_ptr<const Bytes> ReadIntoMemory(const std::filesystem::path& path, uint64_t size,
                                            const std::string& origin) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw AuthoringError("cannot open " + origin);
  auto bytes = std::make_shared<Bytes>(static_cast<size_t>(size));
  if (!bytes->empty() && !in.read(reinterpret_cast<char*>(bytes->data()), static_cast<std::streamsize>(bytes->size())))
    throw AuthoringError("cannot read " + origin + " (did it change while the tool ran?)");
  if (in.peek() != std::char_traits<char>::eof()) throw AuthoringError(origin + " changed while the tool ran");
  return bytes;
}

}  // namespace

std::shared_ptr<const FileData> FileData::Hold(std::shared_ptr<const Bytes> bytes) {
  std::shared_ptr<FileData> data(new FileData());
  data->span_ = ByteSpan(*bytes);
  data->held_ = std::move(bytes);
  return data;
}

#ifdef _WIN32

std::shared_ptr<const FileData> FileData::Open(const std::filesystem::path& path, uint64_t size,
                                               const std::string& origin) {
  if (size >= (uint64_t{1} << 40)) throw AuthoringError("file too large to load: " + origin);
  std::shared_ptr<FileData> data(new FileData());
  if (size >= kMapFrom && size <= SIZE_MAX) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      LARGE_INTEGER actual{};
      const bool sized = GetFileSizeEx(file, &actual) != 0;
      if (sized && static_cast<uint64_t>(actual.QuadPart) != size) {
        CloseHandle(file);
        throw AuthoringError(origin + " changed while the tool ran");
      }
      HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
      CloseHandle(file);
      if (mapping != nullptr) {
        void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, static_cast<size_t>(size));
        CloseHandle(mapping);
        if (view != nullptr) {
          data->map_ = view;
          data->map_size_ = static_cast<size_t>(size);
          data->span_ = ByteSpan(static_cast<const uint8_t*>(view), static_cast<size_t>(size));
          return data;
        }
      }
    }
  }
  data->held_ = ReadIntoMemory(path, size, origin);
  data->span_ = ByteSpan(*data->held_);
  return data;
}

FileData::~FileData() {
  if (map_ != nullptr) UnmapViewOfFile(map_);
}

void FileData::Release(size_t, size_t) const {}

#else

std::shared_ptr<const FileData> FileData::Open(const std::filesystem::path& path, uint64_t size,
                                               const std::string& origin) {
  if (size >= (uint64_t{1} << 40)) throw AuthoringError("file too large to load: " + origin);
  std::shared_ptr<FileData> data(new FileData());
  if (size >= kMapFrom && size <= SIZE_MAX) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw AuthoringError("cannot open " + origin);
    struct stat st {};
    if (fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_size) != size) {
      close(fd);
      throw AuthoringError(origin + " changed while the tool ran");
    }
    void* view = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (view != MAP_FAILED) {
      data->map_ = view;
      data->map_size_ = static_cast<size_t>(size);
      data->span_ = ByteSpan(static_cast<const uint8_t*>(view), static_cast<size_t>(size));
      return data;
    }
  }
  data->held_ = ReadIntoMemory(path, size, origin);
  data->span_ = ByteSpan(*data->held_);
  return data;
}

FileData::~FileData() {
  if (map_ != nullptr) munmap(map_, map_size_);
}

void FileData::Release(size_t from, size_t to) const {
  if (map_ == nullptr) return;
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t first = (from + page - 1) / page * page;
  const size_t last = std::min(to, map_size_) / page * page;
  if (first < last) madvise(static_cast<uint8_t*>(map_) + first, last - first, MADV_DONTNEED);
}

#endif
