#include "manifest/group_selection.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/internal_error.h"

namespace {

// A main manifest, pack documents and key files served from memory, with a
// record of which key files were read.
class Selection : public ::testing::Test {
 protected:
  void SetUp() override { ChecksumCache().clear(); }

  std::map<int, std::string> documents;
  std::map<WideText, NarrowText> files;  // path -> checksum text; absent: cannot be read
  std::vector<WideText> reads;
  FilePatchList list;

  int64_t Collect(const std::string& groups, const WideText& directory = u"C:\\Games\\QTR") {
    documents[5001] =
        "<?xml version=\"1.0\"?><patch><version from=\"1.00\" to=\"1.01\"/>" + groups + "</patch>";
    return CollectFilePatches(
        list, directory,
        [this](int id) {
          const auto found = documents.find(id);
          if (found == documents.end()) RaiseInternalError("Cannot find resource");
          return DataResource{reinterpret_cast<const uint8_t*>(found->second.data()),
                              static_cast<uint32_t>(found->second.size())};
        },
        [this](const WideText& path, NarrowText& text) {
          reads.push_back(path);
          const auto found = files.find(path);
          if (found == files.end()) return false;
          text = found->second;
          return true;
        });
  }

  std::string ErrorOf(const std::string& groups) {
    try {
      Collect(groups);
    } catch (const InternalError& error) {
      return error.what();
    }
    return "no error";
  }

  void AddPack(int id, const std::string& deletedName) {
    documents[id] =
        "<patch><added/><updated/><deleted><file subpath=\"" + deletedName + "\"/></deleted></patch>";
  }

  std::vector<WideText> Names() const {
    std::vector<WideText> names;
    for (const auto& entry : list) names.push_back(entry->name_part);
    return names;
  }
};

const WideText kExe = u"C:\\Games\\QTR\\qtr.exe";
const WideText kUndiff = u"C:\\Games\\QTR\\undiff.dat";
const WideText kNew = u"C:\\Games\\QTR\\new.dat";

std::string Variant(const char* crc, const char* crc2, int pack, const char* space = "100") {
  return std::string("<group name=\"v\" filename=\"qtr.exe\" crc=\"") + crc + "\" crc2=\"" + crc2 +
         "\" required_space=\"" + space + "\"><pack root=\"\" id=\"" + std::to_string(pack) + "\"/></group>";
}

const char kCommon[] = "<group required_space=\"38766\"><pack root=\"\" id=\"5002\"/></group>";

TEST_F(Selection, ThisBuildsManifestForEachVariant) {
  AddPack(5002, "bundle");
  AddPack(5004, "exe_a");
  AddPack(5006, "exe_b");
  const std::string groups = std::string(kCommon) + Variant("f14ead6d", "465b9463", 5004, "20353027") +
                             Variant("71fc08f7", "8a6a5143", 5006, "20341629");
  struct Case {
    const char* checksum;
    int64_t total;
    std::vector<WideText> names;
  };
  const Case cases[] = {{"f14ead6d", 20391793, {u"bundle", u"exe_a"}},
                        {"465b9463", 20391793, {u"bundle", u"exe_a"}},
                        {"71fc08f7", 20380395, {u"bundle", u"exe_b"}},
                        {"8a6a5143", 20380395, {u"bundle", u"exe_b"}},
                        {"00000000", 38766, {u"bundle"}}};
  for (const Case& c : cases) {
    ChecksumCache().clear();
    list.clear();
    reads.clear();
    files[kExe] = c.checksum;
    EXPECT_EQ(Collect(groups), c.total) << c.checksum;
    EXPECT_EQ(Names(), c.names) << c.checksum;
    // Both variant groups name the same executable: it is read once.
    EXPECT_EQ(reads, std::vector<WideText>{kExe}) << c.checksum;
    EXPECT_EQ(list[0]->base_dir, u"C:\\Games\\QTR\\");
  }
}

TEST_F(Selection, GroupsWithoutNameOrFilenameApplyWhateverTheirChecksums) {
  AddPack(1, "one");
  AddPack(2, "two");
  const int64_t total = Collect(
      "<group filename=\"qtr.exe\" crc=\"nope\" required_space=\"5\"><pack root=\"\" id=\"1\"/></group>"
      "<group name=\"x\" required_space=\"7\"><pack root=\"\" id=\"2\"/></group>");
  EXPECT_EQ(total, 12);
  EXPECT_EQ(Names(), (std::vector<WideText>{u"one", u"two"}));
  EXPECT_TRUE(reads.empty());
}

TEST_F(Selection, AnEmptyNameStillFilters) {
  AddPack(1, "one");
  EXPECT_EQ(Collect("<group name=\"\" filename=\"qtr.exe\" crc=\"a\" crc2=\"b\" required_space=\"5\">"
                    "<pack root=\"\" id=\"1\"/></group>"),
            0);
  EXPECT_TRUE(list.empty());
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(reads[0], kExe);
}

TEST_F(Selection, AMissingKeyFileSkipsTheGroupAndIsNotReadAgain) {
  AddPack(1, "one");
  EXPECT_EQ(Collect(Variant("aaaaaaaa", "bbbbbbbb", 1) + Variant("", "", 1)), 0);
  EXPECT_TRUE(list.empty());
  // The key file, then the replacements an interrupted run may have left.
  const std::vector<WideText> once = {kExe, kUndiff, kNew};
  EXPECT_EQ(reads, once);
  ASSERT_EQ(ChecksumCache().size(), 3u);
  EXPECT_EQ(ChecksumCache()[0].path, kExe);
  EXPECT_EQ(ChecksumCache()[0].checksum, "");
  // The cache lasts for the process: a file appearing later is not seen.
  files[kExe] = "aaaaaaaa";
  list.clear();
  EXPECT_EQ(Collect(Variant("aaaaaaaa", "bbbbbbbb", 1)), 0);
  EXPECT_EQ(reads, once);
}

TEST_F(Selection, AMissingKeyFileIsStoodForByItsPatchedReplacementOnly) {
  AddPack(1, "one");
  // "undiff.dat" or "new.dat" beside the missing key file with the patched
  // checksum: the run that left it is finished by this group.
  for (const WideText& replacement : {kUndiff, kNew}) {
    ChecksumCache().clear();
    list.clear();
    files = {{replacement, "bbbbbbbb"}};
    EXPECT_EQ(Collect(Variant("aaaaaaaa", "bbbbbbbb", 1)), 100);
    EXPECT_EQ(Names(), std::vector<WideText>{u"one"});
  }
  // The unpatched checksum, or another one, stands for nothing.
  for (const char* other : {"aaaaaaaa", "cccccccc"}) {
    ChecksumCache().clear();
    list.clear();
    files = {{kUndiff, other}, {kNew, other}};
    EXPECT_EQ(Collect(Variant("aaaaaaaa", "bbbbbbbb", 1)), 0) << other;
    EXPECT_TRUE(list.empty());
  }
  // A key file that is there decides alone.
  ChecksumCache().clear();
  reads.clear();
  files = {{kExe, "cccccccc"}, {kUndiff, "bbbbbbbb"}};
  EXPECT_EQ(Collect(Variant("aaaaaaaa", "bbbbbbbb", 1)), 0);
  EXPECT_EQ(reads, std::vector<WideText>{kExe});
}

TEST_F(Selection, ChecksumsAreComparedAsExactText) {
  AddPack(1, "one");
  files[kExe] = "f14ead6d";
  EXPECT_EQ(Collect(Variant("F14EAD6D", "465B9463", 1) + Variant("f14ead6d ", "x", 1)), 0);
  EXPECT_TRUE(list.empty());
}

TEST_F(Selection, TwoMatchingGroupsAreBothAppliedAndTheirSpaceAdded) {
  AddPack(1, "one");
  AddPack(2, "two");
  files[kExe] = "cafe0001";
  EXPECT_EQ(Collect(Variant("cafe0001", "x", 1, "1000") + Variant("y", "cafe0001", 2, "-300")), 700);
  EXPECT_EQ(Names(), (std::vector<WideText>{u"one", u"two"}));
}

TEST_F(Selection, SkippedGroupsAreNotReadButMatchingOnesMustBeComplete) {
  files[kExe] = "11111111";
  const std::string incomplete =
      "<group name=\"v\" filename=\"qtr.exe\" crc=\"22222222\" crc2=\"33333333\">"
      "<pack/><pack root=\"\" id=\"999\"/></group>";
  EXPECT_EQ(Collect(incomplete), 0);
  list.clear();
  ChecksumCache().clear();
  files[kExe] = "22222222";
  EXPECT_EQ(ErrorOf(incomplete), "Bad patch.xml");
}

TEST_F(Selection, InternalErrorsOfTheManifest) {
  AddPack(1, "one");
  EXPECT_EQ(ErrorOf("<group name=\"v\" filename=\"qtr.exe\" crc2=\"b\" required_space=\"1\"/>"),
            "Invalid group filtering");
  EXPECT_EQ(ErrorOf("<group name=\"v\" filename=\"qtr.exe\" crc=\"a\" required_space=\"1\"/>"),
            "Invalid group filtering");
  EXPECT_EQ(ErrorOf("<group><pack root=\"\" id=\"1\"/></group>"), "Bad patch.xml");
  EXPECT_EQ(ErrorOf("<group required_space=\"1\"><pack id=\"1\"/></group>"), "Bad patch.xml");
  EXPECT_EQ(ErrorOf("<group required_space=\"1\"><pack root=\"\"/></group>"), "Bad patch.xml");
  EXPECT_EQ(ErrorOf("<group required_space=\"1\"><pack root=\"\" id=\"4711\"/></group>"),
            "Cannot find resource");
  documents[2] = "<nopatch/>";
  EXPECT_EQ(ErrorOf("<group required_space=\"1\"><pack root=\"\" id=\"2\"/></group>"), "Invalid sub patch");

  documents[5001] = "<manifest/>";
  FilePatchList other;
  EXPECT_THROW(CollectFilePatches(
                   other, u"C:\\x",
                   [this](int id) {
                     return DataResource{reinterpret_cast<const uint8_t*>(documents[id].data()),
                                         static_cast<uint32_t>(documents[id].size())};
                   },
                   [](const WideText&, NarrowText&) { return false; }),
               InternalError);
}

TEST_F(Selection, EntriesBeforeAFaultyPackStayInTheList) {
  AddPack(1, "one");
  EXPECT_EQ(
      ErrorOf("<group required_space=\"1\"><pack root=\"\" id=\"1\"/><pack root=\"\" id=\"8\"/></group>"),
      "Cannot find resource");
  EXPECT_EQ(Names(), std::vector<WideText>{u"one"});
}

TEST_F(Selection, KeyPathsAreNormalisedButKeepTheirCase) {
  AddPack(1, "one");
  files[kExe] = "cafe0001";
  files[u"C:\\Games\\QTR\\QTR.EXE"] = "cafe0001";
  const std::string groups =
      "<group name=\"a\" filename=\"qtr.exe\" crc=\"cafe0001\" crc2=\"x\" required_space=\"1\"/>"
      "<group name=\"b\" filename=\"/qtr.exe\" crc=\"cafe0001\" crc2=\"x\" required_space=\"2\"/>"
      "<group name=\"c\" filename=\"QTR.EXE\" crc=\"cafe0001\" crc2=\"x\" required_space=\"4\"/>";
  EXPECT_EQ(Collect(groups, u"C:/Games//QTR/"), 7);
  EXPECT_EQ(reads, (std::vector<WideText>{kExe, u"C:\\Games\\QTR\\QTR.EXE"}));

  // An installation on a network share stays there: key files and entries.
  ChecksumCache().clear();
  list.clear();
  reads.clear();
  files[u"\\\\server\\share\\QTR\\qtr.exe"] = "cafe0001";
  const std::string common = "<group required_space=\"8\"><pack root=\"\" id=\"1\"/></group>";
  EXPECT_EQ(Collect(common + groups.substr(0, groups.find("/>") + 2), u"\\\\server\\share\\QTR"), 9);
  EXPECT_EQ(reads, (std::vector<WideText>{u"\\\\server\\share\\QTR\\qtr.exe"}));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->base_dir, u"\\\\server\\share\\QTR\\");
}

TEST_F(Selection, RequiredSpaceReadsAsANumberOrZero) {
  EXPECT_EQ(
      Collect("<group required_space=\"\"/><group required_space=\"12abc\"/><group required_space=\"x\"/>"),
      12);
  EXPECT_EQ(Collect("<group required_space=\"9223372036854775807\"/><group required_space=\"1\"/>"),
            INT64_MIN);
}

TEST_F(Selection, PackRootsAndUtf8FilenamesReachTheEntries) {
  documents[3] = "<patch><deleted><file subpath=\"menu/a.wav\"/></deleted></patch>";
  files[u"C:\\Games\\QTR\\D\u00E9mo\\k.exe"] = "12345678";
  Collect(
      "<group name=\"\" filename=\"D\xC3\xA9mo/k.exe\" crc=\"12345678\" crc2=\"x\" required_space=\"0\">"
      "<pack root=\"/sounds/\" id=\"3\"/></group>");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->dir_part, u"sounds\\menu\\");
  EXPECT_EQ(list[0]->name_part, u"a.wav");
}

TEST_F(Selection, NoGroupsGiveAnEmptyPlan) {
  EXPECT_EQ(Collect(""), 0);
  EXPECT_TRUE(list.empty());
}

}  // namespace
