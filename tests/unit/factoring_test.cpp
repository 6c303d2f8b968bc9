// How a patch's changes are factored into groups for a release matrix
// (editions x languages, where no single file tells the installations
// apart), read back by the patcher's own group selection: every cell's
// installation, unpatched and patched, must get exactly its own entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "manifest/group_selection.h"
#include "tests/unit/authoring_fixtures.h"
#include "tools/common/authoring_error.h"
#include "tools/plan/self_check.h"
#include "tools/plan/variant_plan.h"
#include "tools/tree/paths.h"

namespace {

using Files = std::map<std::string, Bytes>;

// Which of the matrix's kinds of change 1.01 makes.
enum Kind : unsigned {
  kEveryone = 1,            // the common archive, alike everywhere, and a bundle added everywhere
  kByEdition = 2,           // the executable
  kByLanguage = 4,          // the localised text
  kByCell = 8,              // each cell's own file (the English cells share theirs)
  kAddedFr = 16,            // a file added for French only
  kDeletedU = 32,           // the intro, in every cell, deleted in the second edition
  kOnlyInU = 64,            // a file only the second edition has, updated there
  kPerCellOfOneFile = 128,  // the common archive changed differently in every cell
  kAll = 127,
};

// The cells of two editions ("c", "u") by `languages`: the executable
// depends on the edition, the localised text and font on the language.
std::vector<Variant> Matrix(const std::vector<std::string>& languages, unsigned kinds) {
  std::vector<Variant> cells;
  for (uint32_t e = 0; e < 2; ++e) {
    for (uint32_t lang = 0; lang < languages.size(); ++lang) {
      const bool english = languages[lang] == "en";
      const uint32_t own = english ? 300 : 310 + 10 * e + lang;
      Files old_files = {{"/qtr.exe", Random(100 + e, 30000)},         {"/data/common.pak", Random(1, 20000)},
                         {"/data/intro.bik", Random(3, 5000)},         {"/data/cell.dat", Random(own, 6000)},
                         {"/lang/text.dat", Random(200 + lang, 9000)}, {"/lang/font.dat", Random(400 + lang, 2000)}};
      if (e == 1) old_files["/uncut/gore.pak"] = Random(500, 7000);
      Files new_files = old_files;
      if (kinds & kEveryone) {
        new_files["/data/common.pak"] = Edited(old_files["/data/common.pak"], 11);
        new_files["/bundles/patch.bundle"] = Random(4, 4000);
      }
      if (kinds & kByEdition) new_files["/qtr.exe"] = Edited(old_files["/qtr.exe"], 110 + e);
      if (kinds & kByLanguage) new_files["/lang/text.dat"] = Edited(old_files["/lang/text.dat"], 210 + lang);
      if (kinds & kByCell) new_files["/data/cell.dat"] = Edited(old_files["/data/cell.dat"], own + 1000);
      if ((kinds & kAddedFr) && languages[lang] == "fr") new_files["/lang/extra.dat"] = Random(600, 3000);
      if ((kinds & kDeletedU) && e == 1) new_files.erase("/data/intro.bik");
      if ((kinds & kOnlyInU) && e == 1) new_files["/uncut/gore.pak"] = Edited(old_files["/uncut/gore.pak"], 510);
      if (kinds & kPerCellOfOneFile)
        new_files["/data/common.pak"] = Edited(old_files["/data/common.pak"], 700 + 10 * e + lang);
      Variant cell;
      cell.name = std::string(e == 0 ? "c" : "u") + "-" + languages[lang];
      for (auto& [path, bytes] : old_files) cell.old_tree.files.emplace(path, bytes);
      for (auto& [path, bytes] : new_files) cell.new_tree.files.emplace(path, bytes);
      cells.push_back(std::move(cell));
    }
  }
  return cells;
}

DataResourceLoader LoaderOf(const BuiltPatch& patch) {
  return [&patch](int id) {
    const Bytes& b = Resource(patch, id);
    return DataResource{b.data(), static_cast<uint32_t>(b.size())};
  };
}

using Entries = std::set<std::pair<int, std::string>>;  // kind, "/" path

// The entries the patcher's group selection gives an installation holding
// `tree`: checksums taken from its files, as on a volume that finds names
// as the tree spells them.
Entries Selected(const BuiltPatch& patch, const FileTree& tree) {
  static int installations = 0;
  const std::string dir = "C:\\Cell" + std::to_string(++installations);
  std::map<WideText, const TreeFile*> files;
  for (const auto& [path, file] : tree.files) {
    std::string full = dir + path;
    std::replace(full.begin(), full.end(), '/', '\\');
    files[WidenAscii(full.c_str())] = &file;
  }
  const FileChecksum crc = [&files](const WideText& path, NarrowText& text) {
    const auto found = files.find(path);
    if (found == files.end() || found->second->size() == 0) return false;
    text = ChecksumText(found->second->Crc());
    return true;
  };
  FilePatchList list;
  CollectFilePatches(list, WidenAscii(dir.c_str()), LoaderOf(patch), crc);
  Entries entries;
  for (const auto& entry : list) {
    std::string path = WideToUtf8(entry->dir_part + entry->name_part);
    std::replace(path.begin(), path.end(), '\\', '/');
    EXPECT_TRUE(entries.insert({entry->kind, path}).second) << "selected twice: " << path;
  }
  return entries;
}

// What a cell needs: its own changes and nothing else.
Entries Needed(const Variant& cell) {
  Entries entries;
  for (const auto& [key, change] : PlanVariant(cell, nullptr, 1, 1).changes) entries.insert({change.kind, change.path});
  return entries;
}

std::vector<std::string> KeyFiles(const BuiltPatch& patch) {
  std::set<std::string> keys;
  for (const AuthoredGroup& g : patch.documents.groups)
    if (g.filtered) keys.insert(g.filename);
  return {keys.begin(), keys.end()};
}

struct Split {
  const char* what;
  std::vector<std::string> languages;
  unsigned kinds;
  std::vector<std::string> keys;  // the key files chosen
  size_t groups;
};

const Split kSplits[] = {
    {"alike everywhere: the group for everyone", {"en", "fr"}, kEveryone, {}, 1},
    {"by edition: the executable", {"en", "fr"}, kByEdition, {"qtr.exe"}, 2},
    {"by language: the smallest localised file, which the patch leaves alone",
     {"en", "fr", "de"},
     kByLanguage,
     {"lang/font.dat"},
     3},
    {"by cell, two cells alike: the file's own old checksum", {"en", "fr", "de"}, kByCell, {"data/cell.dat"}, 5},
    {"added for one language: that language's group only", {"en", "fr", "de"}, kAddedFr, {"lang/font.dat"}, 1},
    {"deleted in one edition: the smallest file only that edition has", {"en", "fr"}, kDeletedU, {"uncut/gore.pak"}, 1},
    {"updated where only one edition has it: the file itself", {"en", "fr"}, kOnlyInU, {"uncut/gore.pak"}, 1},
    {"every kind but by cell: the edition's key serves the files of one edition too",
     {"en", "fr", "de"},
     kAll & ~kByCell,
     {"lang/font.dat", "qtr.exe"},
     1 + 2 + 3},
    {"every kind: the cells' own file serves the languages too, and reads fewer bytes than a second key",
     {"en", "fr", "de"},
     kAll,
     {"data/cell.dat", "qtr.exe"},
     1 + 2 + 5},
};

TEST(FactorGroups, EveryCellGetsExactlyItsChangesUnpatchedAndPatched) {
  for (const Split& split : kSplits) {
    SCOPED_TRACE(split.what);
    const std::vector<Variant> cells = Matrix(split.languages, split.kinds);
    const BuiltPatch patch = BuildPatch(cells, DefaultHeader("1.00", "1.01"));
    EXPECT_EQ(KeyFiles(patch), split.keys);
    EXPECT_EQ(patch.documents.groups.size(), split.groups);
    for (const Variant& cell : cells) {
      EXPECT_EQ(Selected(patch, cell.old_tree), Needed(cell)) << cell.name;
      EXPECT_EQ(Selected(patch, cell.new_tree), Needed(cell)) << cell.name << ", patched";
    }
    EXPECT_NO_THROW(SelfCheck(patch, cells));
  }
}

TEST(FactorGroups, KeyFilesNamedAreTheOnlyCandidates) {
  const std::vector<Variant> cells = Matrix({"en", "fr", "de"}, kAll & ~kByCell);
  BuildOptions options;
  options.key_files = {"qtr.exe", "lang/text.dat"};
  const BuiltPatch patch = BuildPatch(cells, DefaultHeader("1.00", "1.01"), options);
  EXPECT_EQ(KeyFiles(patch), (std::vector<std::string>{"lang/text.dat", "qtr.exe"}));
  for (const Variant& cell : cells) {
    EXPECT_EQ(Selected(patch, cell.old_tree), Needed(cell)) << cell.name;
    EXPECT_EQ(Selected(patch, cell.new_tree), Needed(cell)) << cell.name << ", patched";
  }

  // The executable alone cannot tell the languages apart.
  options.key_files = {"qtr.exe"};
  try {
    BuildPatch(cells, DefaultHeader("1.00", "1.01"), options);
    ADD_FAILURE() << "built a patch no key file named can select";
  } catch (const AuthoringError& e) {
    EXPECT_NE(std::string(e.what()).find("none of the key files named"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("/lang/text.dat: updated in c-en, u-en; updated another way in c-fr, u-fr"),
              std::string::npos)
        << e.what();
  }
}

TEST(FactorGroups, RefusesWhatNoKeyFileCanSelectNamingPathsAndCells) {
  // Every cell changes the common archive its own way, and no file's
  // checksum sets the English cells apart.
  const std::vector<Variant> cells = Matrix({"en", "fr"}, kPerCellOfOneFile);
  try {
    BuildPatch(cells, DefaultHeader("1.00", "1.01"));
    ADD_FAILURE() << "built a patch that some cell would not select";
  } catch (const AuthoringError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("no file of the old trees tells apart"), std::string::npos) << message;
    EXPECT_NE(message.find("/data/common.pak: updated in c-en; updated another way in c-fr"), std::string::npos)
        << message;
  }
}

TEST(FactorGroups, AKeyFileThePatchDeletesIsDeletedLastOfItsGroup) {
  // Only /a.dat tells the two apart, and the first deletes it while it
  // updates /b.dat: every other entry of the group is done before a rerun
  // could find the key file gone and stop selecting the group.
  std::vector<Variant> variants(2);
  variants[0].name = "with";
  variants[1].name = "without";
  for (Variant& v : variants) v.old_tree.files = {{"/b.dat", Random(7, 3000)}, {"/z.dat", Random(8, 3000)}};
  variants[0].old_tree.files["/a.dat"] = Random(9, 500);
  variants[1].new_tree = variants[1].old_tree;
  variants[0].new_tree.files = {{"/b.dat", Edited(Random(7, 3000), 1)}, {"/z.dat", Random(8, 3000)}};
  variants[0].new_tree.files["/y.dat"] = Random(10, 100);
  // /z.dat too is deleted, and sorts after /a.dat.
  variants[0].new_tree.files.erase("/z.dat");
  const BuiltPatch patch = BuildPatch(variants, DefaultHeader("1.00", "1.01"));
  ASSERT_EQ(patch.documents.groups.size(), 1u);
  const AuthoredGroup& group = patch.documents.groups[0];
  EXPECT_EQ(group.filename, "a.dat");
  std::vector<std::string> order;
  for (const AuthoredFile& f : group.files) order.push_back(f.subpath);
  EXPECT_EQ(order, (std::vector<std::string>{"/y.dat", "/b.dat", "/z.dat", "/a.dat"}));
  // Stopped with /b.dat updated and /a.dat not yet deleted: the group is
  // still selected; once /a.dat is gone, nothing is left for it to do.
  FileTree halfway = variants[0].old_tree;
  halfway.files["/b.dat"] = variants[0].new_tree.files.at("/b.dat");
  halfway.files["/y.dat"] = variants[0].new_tree.files.at("/y.dat");
  EXPECT_EQ(Selected(patch, halfway), Needed(variants[0]));
  EXPECT_TRUE(Selected(patch, variants[0].new_tree).empty());
  EXPECT_TRUE(Selected(patch, variants[1].old_tree).empty());
  EXPECT_NO_THROW(SelfCheck(patch, variants));
}

}  // namespace
