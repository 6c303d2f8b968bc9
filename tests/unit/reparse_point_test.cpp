#include "files/reparse_point.h"

#include <gtest/gtest.h>

namespace {

struct Row {
  const char *what;
  uint32_t attributes;
  ReparseTag tag;
  bool link;
};

constexpr uint32_t kFile = 0x20;  // FILE_ATTRIBUTE_ARCHIVE
constexpr uint32_t kFolder = kAttributeDirectory;
constexpr uint32_t kReparse = kAttributeReparsePoint;

TEST(CountsAsLink, NameSurrogatesAndUnknownTagsOnly) {
  const Row rows[] = {
      {"plain file", kFile, {}, false},
      {"plain folder", kFolder, {}, false},
      {"a tag without the attribute is not looked at", kFile, {true, 0xA000000C}, false},
      {"symbolic link to a file", kFile | kReparse, {true, 0xA000000C}, true},
      {"symbolic link to a folder", kFolder | kReparse, {true, 0xA000000C}, true},
      {"junction or mount point", kFolder | kReparse, {true, 0xA0000003}, true},
      {"WSL link", kFile | kReparse, {true, 0xA000001D}, true},
      {"OneDrive placeholder file", kFile | kReparse, {true, 0x9000001A}, false},
      {"OneDrive folder", kFolder | kReparse, {true, 0x9000001A}, false},
      {"cloud tag of another provider", kFile | kReparse, {true, 0x9000F01A}, false},
      {"cloud tag without the folder bit", kFile | kReparse, {true, 0x8000001A}, false},
      {"deduplicated file", kFile | kReparse, {true, 0x80000013}, false},
      {"system-compressed file", kFile | kReparse, {true, 0x80000017}, false},
      {"app execution alias", kFile | kReparse, {true, 0x8000001B}, false},
      {"tag 0, as Wine shows a Unix link to a folder", kFolder | kReparse, {true, 0}, true},
      {"tag that could not be read", kFile | kReparse, {}, true},
      {"third-party name surrogate", kFile | kReparse, {true, 0x20001234}, true},
  };
  for (const Row &row : rows) EXPECT_EQ(CountsAsLink(row.attributes, row.tag), row.link) << row.what;
}

}  // namespace
