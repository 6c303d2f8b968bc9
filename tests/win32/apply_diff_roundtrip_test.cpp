// Seeded pairs whose diffs the authoring tool's writer made (natively, by
// qtr_roundtrip_fixtures; the test command puts them in QTR_ROUNDTRIP_DIR),
// rebuilt by the patcher's own applier through real files: the output and
// the digest kept while writing equal the new file; and the paged reader
// loads exactly as many old-file pages as the authoring tool's apply-cost
// model counted (NAME.loads), so that the tool's figures and its page budget
// are the patcher's.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "diff/apply_diff.h"
#include "diff/diff_decoder.h"
#include "diff/memory_io.h"
#include "diff/paged_reader_win.h"
#include "tests/win32/scratch_dir_win.h"

namespace {

// The fixture folder as a Windows path: Wine shows the Unix root as Z:.
WideText FixtureDir() {
  const char* dir = std::getenv("QTR_ROUNDTRIP_DIR");
  if (dir == nullptr || *dir == '\0') return u"";
  WideText path = WidenAscii(dir);
  if (path[0] == u'/') path = u"Z:" + path;
  for (char16_t& unit : path) unit = unit == u'/' ? u'\\' : unit;
  return path + u"\\";
}

std::vector<WideText> FixtureNames(const WideText& dir) {
  std::vector<WideText> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(WinText(dir + u"*.diff"), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const WideText name = FromWinText(found.cFileName);
    names.push_back(name.substr(0, name.size() - 5));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

// The real reader, with a count of the pages it loads: page 0 at open, then
// one for every change of the resident page.
struct LoadCountingReader {
  PagedReader& inner;
  uint32_t& position;
  uint32_t& size;
  int32_t resident = 0;
  uint64_t loads = 1;

  explicit LoadCountingReader(PagedReader& reader) : inner(reader), position(reader.position), size(reader.size) {}
  void Note() {
    if (inner.pageIndex == resident) return;
    resident = inner.pageIndex;
    ++loads;
  }
  int GetByte() {
    const int byte = inner.GetByte();
    Note();
    return byte;
  }
  const uint8_t* Peek(uint32_t& available) {
    const uint8_t* bytes = inner.Peek(available);
    Note();
    return bytes;
  }
  void Advance(uint32_t count) { inner.Advance(count); }
};

TEST(ApplyDiffRoundTrip, PagedReaderLoadsWhatTheModelCounted) {
  const WideText dir = FixtureDir();
  if (dir.empty()) GTEST_SKIP() << "QTR_ROUNDTRIP_DIR is not set (scripts/test.sh makes the pairs)";
  const std::vector<WideText> names = FixtureNames(dir);
  ASSERT_GE(names.size(), 7u);
  uint64_t most = 0;
  for (const WideText& name : names) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    const Bytes counted = ReadBytes(dir + name + u".loads");
    ASSERT_FALSE(counted.empty());
    const uint64_t expected = std::stoull(std::string(counted.begin(), counted.end()));
    PagedReader reader;
    ASSERT_TRUE(reader.Open(dir + name + u".old"));
    LoadCountingReader old_reader(reader);
    const Bytes diff = ReadBytes(dir + name + u".diff");
    MemoryReader diff_reader(diff);
    MemoryWriter writer;
    ASSERT_TRUE(DecodeDiff(writer, old_reader, diff_reader));
    EXPECT_TRUE(writer.bytes == ReadBytes(dir + name + u".new"));
    EXPECT_EQ(old_reader.loads, expected);
    most = std::max(most, expected);
  }
  EXPECT_GE(most, 5u);  // some pair goes back to earlier pages
}

TEST(ApplyDiffRoundTrip, WriterDiffsRebuildEveryPairThroughFiles) {
  const WideText dir = FixtureDir();
  if (dir.empty()) GTEST_SKIP() << "QTR_ROUNDTRIP_DIR is not set (scripts/test.sh makes the pairs)";
  const std::vector<WideText> names = FixtureNames(dir);
  ASSERT_GE(names.size(), 7u) << "no fixtures in the folder QTR_ROUNDTRIP_DIR names";
  for (const WideText& name : names) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    ScratchDir scratch;
    const WideText out = scratch.path() + u"undiff.dat";
    WrittenDigest digest;
    ASSERT_TRUE(ApplyDiff(out, dir + name + u".old", dir + name + u".diff", nullptr, &digest));
    const Bytes expected = ReadBytes(dir + name + u".new");
    const Bytes rebuilt = ReadBytes(out);
    ASSERT_EQ(rebuilt.size(), expected.size());
    EXPECT_TRUE(rebuilt == expected);
    EXPECT_EQ(digest.size, expected.size());
    EXPECT_EQ(digest.crc32, crc32(0, expected.data(), static_cast<uInt>(expected.size())));
  }
}

}  // namespace
