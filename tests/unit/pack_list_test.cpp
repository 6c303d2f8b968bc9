#include "manifest/pack_list.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "engine/internal_error.h"
#include "tinyxml.h"

namespace {

const WideText kBase = u"C:\\Games\\Quarrytide\\";

// Pack documents by resource id, served as the patcher's resources would be.
struct Resources {
  std::map<int, std::string> documents;
  DataResourceLoader Loader() const {
    return [this](int id) {
      const auto found = documents.find(id);
      if (found == documents.end()) RaiseInternalError("Cannot find resource");
      DataResource view;
      view.data = reinterpret_cast<const uint8_t*>(found->second.data());
      view.length = static_cast<uint32_t>(found->second.size());
      return view;
    };
  }
};

FilePatchList Read(const std::string& document, const WideText& root = u"") {
  Resources resources;
  resources.documents[5002] = document;
  FilePatchList list;
  ReadSubPatch(5002, root, kBase, list, resources.Loader());
  return list;
}

// The message of the internal error raised while reading, and how many
// entries had been appended by then.
std::string ErrorOf(const std::string& document, size_t* appended = nullptr) {
  Resources resources;
  resources.documents[5002] = document;
  FilePatchList list;
  try {
    ReadSubPatch(5002, u"", kBase, list, resources.Loader());
  } catch (const InternalError& error) {
    if (appended != nullptr) *appended = list.size();
    return error.what();
  }
  return "no error";
}

const char kAdded[] =
    "<file subpath=\"/bundles/patch.bundle\" crc=\"821de44f\" size=\"28853\" id=\"5003\" comp=\"1\" "
    "comp_size=\"9913\"/>";
const char kUpdated[] =
    "<file subpath=\"/qtr.exe\" crc_org=\"f14ead6d\" size_org=\"14649576\" crc=\"465b9463\" "
    "size=\"14653160\" id=\"5005\" diff=\"1\" diff_size=\"3523774\" comp=\"1\" comp_size=\"2176093\"/>";

std::string Pack(const std::string& added, const std::string& updated, const std::string& deleted) {
  return "<?xml version=\"1.0\"?><patch id=\"5002\" required_space=\"1\"><added>" + added +
         "</added><updated>" + updated + "</updated><deleted>" + deleted + "</deleted></patch>";
}

TEST(PackList, ReadsTheAddedAndUpdatedEntriesOfThisBuild) {
  const FilePatchList list = Read(Pack(kAdded, kUpdated, ""));
  ASSERT_EQ(list.size(), 2u);
  const FilePatch& added = *list[0];
  EXPECT_EQ(added.kind, Added);
  EXPECT_EQ(added.dir_part, u"\\bundles\\");
  EXPECT_EQ(added.name_part, u"patch.bundle");
  EXPECT_EQ(added.base_dir, kBase);
  EXPECT_EQ(added.crc, "821de44f");
  EXPECT_EQ(added.size, "28853");
  EXPECT_EQ(added.id, 5003);
  EXPECT_TRUE(added.comp);
  EXPECT_EQ(added.comp_size, "9913");
  EXPECT_FALSE(added.diff);
  EXPECT_EQ(added.crc_org, "");
  EXPECT_EQ(added.size_org, "");
  EXPECT_EQ(added.entry_progress, nullptr);

  const FilePatch& updated = *list[1];
  EXPECT_EQ(updated.kind, Updated);
  EXPECT_EQ(updated.dir_part, u"\\");
  EXPECT_EQ(updated.name_part, u"qtr.exe");
  EXPECT_EQ(updated.crc_org, "f14ead6d");
  EXPECT_EQ(updated.size_org, "14649576");
  EXPECT_EQ(updated.crc, "465b9463");
  EXPECT_EQ(updated.size, "14653160");
  EXPECT_EQ(updated.id, 5005);
  EXPECT_TRUE(updated.diff);
  EXPECT_EQ(updated.diff_size, "3523774");
  EXPECT_TRUE(updated.comp);
  EXPECT_EQ(updated.comp_size, "2176093");
}

TEST(PackList, AddedThenUpdatedThenDeletedWhateverTheDocumentOrder) {
  const std::string document =
      "<patch><deleted><file subpath=\"d1\"/><file subpath=\"d2\"/></deleted>"
      "<updated>" +
      std::string(kUpdated) +
      "</updated>"
      "<added><file subpath=\"a1\" crc=\"1\" size=\"1\" id=\"1\" comp=\"0\"/>"
      "<file subpath=\"a2\" crc=\"1\" size=\"1\" id=\"2\" comp=\"0\"/></added></patch>";
  const FilePatchList list = Read(document);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[0]->name_part, u"a1");
  EXPECT_EQ(list[1]->name_part, u"a2");
  EXPECT_EQ(list[2]->name_part, u"qtr.exe");
  EXPECT_EQ(list[3]->name_part, u"d1");
  EXPECT_EQ(list[3]->kind, Deleted);
  EXPECT_EQ(list[4]->name_part, u"d2");
}

TEST(PackList, EmptyOrAbsentListsAddNothingAndOnlyTheFirstListOfAKindIsRead) {
  EXPECT_TRUE(Read(Pack("", "", "")).empty());
  EXPECT_TRUE(Read("<patch/>").empty());
  const FilePatchList list = Read(
      "<patch><deleted><file subpath=\"first\"/></deleted><deleted><file subpath=\"second\"/></deleted>"
      "<deleted/></patch>");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->name_part, u"first");
}

TEST(PackList, DeletedEntriesNeedOnlyASubpathAndIgnoreEverythingElse) {
  const FilePatchList list =
      Read(Pack("", "", "<file subpath=\"old.txt\" crc=\"abc\" size=\"9\" id=\"77\" comp=\"1\"/>"));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->kind, Deleted);
  EXPECT_EQ(list[0]->crc, "");
  EXPECT_EQ(list[0]->size, "");
  EXPECT_EQ(list[0]->id, 0);
  EXPECT_FALSE(list[0]->comp);
}

TEST(PackList, SubpathSpellingsGiveTheSameParts) {
  for (const char* subpath : {"/bundles/patch.bundle", "\\bundles\\patch.bundle", "bundles/patch.bundle",
                              "//bundles//patch.bundle//", "bundles\\/patch.bundle\\"}) {
    const FilePatchList list = Read(Pack("", "", std::string("<file subpath=\"") + subpath + "\"/>"));
    ASSERT_EQ(list.size(), 1u) << subpath;
    EXPECT_EQ(list[0]->dir_part, u"\\bundles\\") << subpath;
    EXPECT_EQ(list[0]->name_part, u"patch.bundle") << subpath;
  }
}

TEST(PackList, RootIsPrefixedAndCaseAndUtf8AreKept) {
  FilePatchList list = Read(Pack("", "", "<file subpath=\"sounds//menu/a.wav\"/>"), u"data");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->dir_part, u"data\\sounds\\menu\\");
  EXPECT_EQ(list[0]->name_part, u"a.wav");

  list = Read(Pack("", "", "<file subpath=\"Maps/K\xC3\xBCste.MAP\"/>"), u"Data/");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->dir_part, u"Data\\Maps\\");
  EXPECT_EQ(list[0]->name_part, u"K\u00FCste.MAP");
}

TEST(PackList, CompAndDiffCountOnlyWhenExactlyOne) {
  for (const char* value : {"0", "2", "", "yes", "10", "-1"}) {
    const std::string added =
        std::string("<file subpath=\"a\" crc=\"1\" size=\"1\" id=\"3\" comp=\"") + value + "\"/>";
    const std::string updated =
        std::string(
            "<file subpath=\"u\" crc=\"1\" size=\"1\" id=\"4\" comp=\"0\" crc_org=\"2\" "
            "size_org=\"2\" diff=\"") +
        value + "\"/>";
    const FilePatchList list = Read(Pack(added, updated, ""));
    ASSERT_EQ(list.size(), 2u) << value;
    EXPECT_FALSE(list[0]->comp) << value;
    EXPECT_EQ(list[0]->comp_size, "") << value;
    EXPECT_FALSE(list[1]->diff) << value;
    EXPECT_EQ(list[1]->diff_size, "") << value;
  }
  // " 1" reads as 1 by atoi rules, so then comp_size is required.
  EXPECT_EQ(ErrorOf(Pack("<file subpath=\"a\" crc=\"1\" size=\"1\" id=\"3\" comp=\" 1\"/>", "", "")),
            "FilePatch");
}

TEST(PackList, EachRequiredAttributeOfItsKindIsRequired) {
  const char* addedAttributes[] = {"subpath", "crc", "size", "id", "comp", "comp_size"};
  for (const char* missing : addedAttributes) {
    std::string file = "<file";
    const std::map<std::string, std::string> values = {{"subpath", "a"}, {"crc", "1"},  {"size", "1"},
                                                       {"id", "3"},      {"comp", "1"}, {"comp_size", "1"}};
    for (const auto& [name, value] : values) {
      if (name != missing) file += " " + name + "=\"" + value + "\"";
    }
    file += "/>";
    EXPECT_EQ(ErrorOf(Pack(file, "", "")), "FilePatch") << missing;
  }
  const char* updatedAttributes[] = {"subpath",   "crc",     "size",     "id",   "comp",
                                     "comp_size", "crc_org", "size_org", "diff", "diff_size"};
  for (const char* missing : updatedAttributes) {
    std::string file = "<file";
    const std::map<std::string, std::string> values = {
        {"subpath", "u"},   {"crc", "1"},     {"size", "1"},     {"id", "3"},   {"comp", "1"},
        {"comp_size", "1"}, {"crc_org", "2"}, {"size_org", "2"}, {"diff", "1"}, {"diff_size", "1"}};
    for (const auto& [name, value] : values) {
      if (name != missing) file += " " + name + "=\"" + value + "\"";
    }
    file += "/>";
    EXPECT_EQ(ErrorOf(Pack("", file, "")), "FilePatch") << missing;
  }
  EXPECT_EQ(ErrorOf(Pack("", "", "<file/>")), "FilePatch");
}

TEST(PackList, AFaultyEntryLeavesTheEarlierOnesAppended) {
  size_t appended = 99;
  const std::string document =
      Pack(kAdded, kUpdated, "<file subpath=\"ok\"/><file crc=\"x\"/><file subpath=\"never\"/>");
  EXPECT_EQ(ErrorOf(document, &appended), "FilePatch");
  EXPECT_EQ(appended, 3u);
}

TEST(PackList, DocumentWithoutPatchOrResourceMissing) {
  EXPECT_EQ(ErrorOf("<other><added/></other>"), "Invalid sub patch");
  EXPECT_EQ(ErrorOf("not xml at all <<<"), "Invalid sub patch");
  EXPECT_EQ(ErrorOf(std::string("\0\0\0", 3)), "Invalid sub patch");
  Resources none;
  FilePatchList list;
  try {
    ReadSubPatch(5009, u"", kBase, list, none.Loader());
    ADD_FAILURE() << "a missing resource was read";
  } catch (const InternalError& error) {
    EXPECT_STREQ(error.what(), "Cannot find resource");
  }
}

TEST(PackList, MakeFilePatchRefusesNoElementAndAnEmptyBaseDirectory) {
  TiXmlDocument document;
  document.Parse("<file subpath=\"a\"/>");
  EXPECT_THROW(MakeFilePatch(nullptr, Deleted, kBase, u""), InternalError);
  EXPECT_THROW(MakeFilePatch(document.RootElement(), Deleted, u"", u""), InternalError);
  const auto entry = MakeFilePatch(document.RootElement(), Deleted, kBase, u"x//y/");
  EXPECT_EQ(entry->dir_part, u"x\\y\\");
  EXPECT_EQ(entry->name_part, u"a");
  EXPECT_EQ(RequiredAttribute(*document.RootElement(), "subpath"), "a");
  EXPECT_THROW(RequiredAttribute(*document.RootElement(), "crc"), InternalError);
}

}  // namespace
