// Seeded pairs whose diffs the authoring tool's writer made (natively, by
// qtr_roundtrip_fixtures; the test command puts them in QTR_ROUNDTRIP_DIR),
// rebuilt by the patcher's own applier through real files: the output and
// the digest kept while writing equal the new file.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "diff/apply_diff.h"
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

TEST(ApplyDiffRoundTrip, WriterDiffsRebuildEveryPairThroughFiles) {
  const WideText dir = FixtureDir();
  if (dir.empty()) GTEST_SKIP() << "QTR_ROUNDTRIP_DIR is not set (scripts/test.sh makes the pairs)";
  const std::vector<WideText> names = FixtureNames(dir);
  ASSERT_GE(names.size(), 6u) << "no fixtures in the folder QTR_ROUNDTRIP_DIR names";
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
