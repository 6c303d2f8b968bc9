// The authoring tool's patch building, read back by the patcher's own
// readers: groups and payloads, the self-check, the PE resource writer and
// the inputs it must refuse.
#include "tools/plan/authoring.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <thread>

#include "engine/internal_error.h"
#include "manifest/group_selection.h"
#include "manifest/patch_manifest.h"
#include "tests/unit/authoring_fixtures.h"
#include "tests/unit/test_stub.h"
#include "tools/cli/terminal.h"
#include "tools/common/authoring_error.h"
#include "tools/image/patch_image.h"
#include "tools/image/pe_resources.h"
#include "tools/payload/zlib_codec.h"
#include "tools/plan/self_check.h"
#include "tools/tree/paths.h"

namespace {

DataResourceLoader LoaderOf(const BuiltPatch& patch) {
  return [&patch](int id) {
    const Bytes& b = Resource(patch, id);
    return DataResource{b.data(), static_cast<uint32_t>(b.size())};
  };
}

// The file plan the patcher builds for an installation whose qtr.exe is `exe`.
FilePatchList PlanFor(const BuiltPatch& patch, ByteSpan exe, int64_t& space) {
  // The patcher's checksum cache keeps every key path it has seen: each plan
  // gets an installation directory of its own.
  static int plans = 0;
  const std::string dir = "C:\\Plan" + std::to_string(++plans);
  FilePatchList list;
  const FileChecksum crc = [&exe, dir](const WideText& path, NarrowText& text) {
    if (path != WidenAscii((dir + "\\qtr.exe").c_str())) return false;
    uLong c = crc32(0, exe.data, static_cast<uInt>(exe.size));
    text = ChecksumText(static_cast<uint32_t>(c));
    return true;
  };
  space = CollectFilePatches(list, WidenAscii(dir.c_str()), LoaderOf(patch), crc);
  return list;
}

TEST(BuildPatch, GroupsForEveryoneAndPerVariantAsThePatcherReadsThem) {
  const auto variants = TwoEditions();
  const BuiltPatch patch = BuildPatch(variants, DefaultHeader("1.00", "1.01"));
  // 5001 main, 5002 common pack + 2 payloads (bundle, readme), then per
  // variant a pack and the executable's payload.
  std::vector<int> ids;
  for (const auto& r : patch.resources) ids.push_back(r.first);
  EXPECT_EQ(ids, (std::vector<int>{5001, 5002, 5003, 5004, 5005, 5006, 5007, 5008}));

  const Bytes& main = Resource(patch, 5001);
  const PatchManifest header = ReadPatchManifest(reinterpret_cast<const char*>(main.data()), main.size());
  EXPECT_EQ(header.from, "1.00");
  EXPECT_EQ(header.to, "1.01");
  EXPECT_EQ(header.reg_path.key, "SOFTWARE\\Morrow\\QTR");
  EXPECT_EQ(header.reg_version2.value, "DisplayVersion");
  EXPECT_EQ(header.reg_version2.key.rfind("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{", 0),
            0u);

  for (int v = 0; v < 2; ++v) {
    for (const std::shared_ptr<const FileData>& exe : {variants[v].old_tree.files.at("/qtr.exe").Load(), variants[v].new_tree.files.at("/qtr.exe").Load()}) {
      int64_t space = 0;
      const FilePatchList list = PlanFor(patch, exe->span(), space);
      ASSERT_EQ(list.size(), 4u);
      EXPECT_EQ(list[0]->kind, Added);
      EXPECT_EQ(list[0]->name_part, u"patch.bundle");
      EXPECT_EQ(list[0]->dir_part, u"\\bundles\\");
      EXPECT_EQ(list[1]->kind, Updated);
      EXPECT_EQ(list[1]->name_part, u"readme.txt");
      EXPECT_EQ(list[2]->kind, Deleted);
      EXPECT_EQ(list[2]->dir_part + list[2]->name_part, u"\\data\\old.txt");
      EXPECT_EQ(list[3]->kind, Updated);
      EXPECT_EQ(list[3]->name_part, u"qtr.exe");
      EXPECT_EQ(list[3]->id, v == 0 ? 5006 : 5008);
      EXPECT_TRUE(list[3]->diff);
      EXPECT_TRUE(list[3]->comp);
      // required_space: new sizes, plus inflated diffs, plus compressed payloads.
      int64_t sum = 0;
      for (const auto& e : list) {
        sum += ParseInt64(e->size);
        if (e->diff) sum += ParseInt64(e->diff_size);
        if (e->comp) {
          sum += ParseInt64(e->comp_size);
          EXPECT_EQ(ParseInt64(e->comp_size), static_cast<int64_t>(Resource(patch, e->id).size()));
        }
      }
      EXPECT_EQ(space, sum);
    }
  }
  int64_t space = 0;
  EXPECT_EQ(PlanFor(patch, Random(99, 1000), space).size(), 3u);  // an unknown edition gets the common group

  EXPECT_NO_THROW(SelfCheck(patch, variants));
}

TEST(BuildPatch, SameInputSameBytes) {
  const auto variants = TwoEditions();
  const BuiltPatch a = BuildPatch(variants, DefaultHeader("1.00", "1.01"));
  const BuiltPatch b = BuildPatch(variants, DefaultHeader("1.00", "1.01"));
  EXPECT_TRUE(a.resources == b.resources);
  // Files made one at a time or several at once, on one thread or many.
  for (const unsigned threads : {1u, 3u}) {
    BuildOptions options;
    options.threads = threads;
    EXPECT_TRUE(BuildPatch(variants, DefaultHeader("1.00", "1.01"), options).resources == a.resources) << threads;
  }
  // The key file named as the patcher's manifests may write it.
  EXPECT_TRUE(BuildPatch(variants, DefaultHeader("1.00", "1.01"), KeyedBy("\\qtr.exe")).resources == a.resources);
  EXPECT_TRUE(BuildPatch(variants, DefaultHeader("1.00", "1.01"), KeyedBy("/qtr.exe")).resources == a.resources);
  // In another case it is still named as the installation spells it ...
  EXPECT_TRUE(BuildPatch(variants, DefaultHeader("1.00", "1.01"), KeyedBy("./QTR.exe")).resources == a.resources);
  // ... by each edition's group as that edition spells it: a volume whose
  // upcase table leaves \u0131 alone finds no "qtrI.exe" for "qtr\u0131.exe".
  auto spelled = variants;
  for (size_t i = 0; i < spelled.size(); ++i)
    for (FileTree* tree : {&spelled[i].old_tree, &spelled[i].new_tree}) {
      auto node = tree->files.extract("/qtr.exe");
      node.key() = i == 0 ? "/qtr\xC4\xB1.exe" : "/qtrI.exe";
      tree->files.insert(std::move(node));
    }
  const BuiltPatch by_spelling = BuildPatch(spelled, DefaultHeader("1.00", "1.01"), KeyedBy("QTRi.exe"));
  ASSERT_EQ(by_spelling.documents.groups.size(), 3u);
  EXPECT_EQ(by_spelling.documents.groups[1].filename, "qtr\xC4\xB1.exe");
  EXPECT_EQ(by_spelling.documents.groups[2].filename, "qtrI.exe");
}

// Versions as the patcher compares them: major << 16 | minor, so 1.1 and
// 1.01 are one version and 1.10 is above 1.9.
// Payloads that outgrow what a patcher can load are refused as soon as those
// made pass the limit, with the largest named, not after every payload and
// the self-check.
TEST(BuildPatch, PayloadsOverTheLimitAreRefusedAsSoonAsTheyPassIt) {
  std::mt19937 random(7);
  Variant v;
  v.name = "only";
  v.old_tree.files["/keep.txt"] = Bytes{'k'};
  v.new_tree.files["/keep.txt"] = Bytes{'k'};
  for (int i = 0; i < 4; ++i) {
    Bytes noise(64 << 10);
    for (auto& byte : noise) byte = static_cast<uint8_t>(random());
    v.new_tree.files["/f" + std::to_string(i) + ".bin"] = noise;
  }
  BuildOptions options;
  options.threads = 1;
  options.payload_limit = 100 << 10;
  try {
    BuildPatch({v}, DefaultHeader("1.00", "1.01"), options);
    FAIL() << "the payloads passed the limit unrefused";
  } catch (const AuthoringError& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("the payloads of 2 of the 4 files to carry already come to 128.0 KiB"), std::string::npos)
        << what;
    EXPECT_NE(what.find("the largest payloads: /f0.bin 64.0 KiB (whole file), /f1.bin 64.0 KiB (whole file)"),
              std::string::npos)
        << what;
  }
}

TEST(CheckVersions, RefusesEveryPairThePatcherCannotApply) {
  const std::pair<const char*, const char*> good[] = {{"1.00", "1.01"}, {"1.9", "1.10"}, {"1.99", "2.0"},
                                                      {"0.1", "0.2"}, {"32767.0", "32767.65535"}};
  for (const auto& [from, to] : good) EXPECT_NO_THROW(CheckVersions(from, to)) << from << " " << to;
  const std::pair<const char*, const char*> bad[] = {
      {"1.01", "1.1"},  {"1.01", "1.00"}, {"1.10", "1.9"},   {"0.0", "1.00"},  {"1.00", "one"},
      {"1.00", "1"},    {"1.00", "1.0.1"}, {"1.00", "1.65536"}, {"-1.0", "1.0"}, {"1.00", " 1.01"},
      {"1.00", "1.01 "}, {"32768.0", "32768.1"}, {"", "1.01"}, {"1.00", "1.0x"}};
  for (const auto& [from, to] : bad) EXPECT_THROW(CheckVersions(from, to), AuthoringError) << from << " " << to;
}

TEST(SelfCheck, RefusesADiffThatDoesNotRebuildTheFile) {
  const auto variants = TwoEditions();
  BuiltPatch patch = BuildPatch(variants, DefaultHeader("1.00", "1.01"));
  // Change one literal byte of the first executable diff, keeping every
  // document consistent with the payload, so only the rebuilt bytes are wrong.
  for (auto& r : patch.resources) {
    if (r.first != 5006) continue;
    Bytes diff;
    ASSERT_TRUE(Inflate(r.second, diff));
    size_t at = diff.size() / 2;
    while (diff[at] == 0xA7 || diff[at - 1] == 0xA7 || diff[at] >= 0xA2) ++at;
    diff[at] ^= 0x01;
    const size_t old_size = r.second.size();
    r.second = Compress(diff);
    for (auto& doc : patch.resources) {
      if (doc.first != 5005) continue;
      std::string text(doc.second.begin(), doc.second.end());
      const std::string from = "comp_size=\"" + std::to_string(old_size) + "\"";
      ASSERT_NE(text.find(from), std::string::npos);
      text.replace(text.find(from), from.size(), "comp_size=\"" + std::to_string(r.second.size()) + "\"");
      doc.second = Text(text);
    }
  }
  try {
    SelfCheck(patch, variants);
    FAIL() << "a wrong diff passed the self-check";
  } catch (const AuthoringError& e) {
    EXPECT_NE(std::string(e.what()).find("/qtr.exe"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("censored"), std::string::npos) << e.what();
  }
}

TEST(BuildPatch, RefusesWhatItCannotPatch) {
  auto variants = TwoEditions();
  auto identical = variants;
  for (auto& v : identical) v.new_tree = v.old_tree;
  EXPECT_THROW(BuildPatch(identical, DefaultHeader("1.00", "1.01")), AuthoringError);
  EXPECT_THROW(BuildPatch(variants, DefaultHeader("1.00", "1.00")), AuthoringError);
  EXPECT_THROW(BuildPatch(variants, DefaultHeader("1.00", "one")), AuthoringError);
  EXPECT_THROW(BuildPatch(variants, DefaultHeader("1.00", "1.01"), KeyedBy("readme.txt")), AuthoringError);

  // Variants whose only distinguishing file is the same in both.
  auto alike = variants;
  alike[1].old_tree.files["/qtr.exe"] = alike[0].old_tree.files["/qtr.exe"];
  alike[1].new_tree.files["/qtr.exe"] = alike[0].new_tree.files["/qtr.exe"];
  alike[1].new_tree.files["/data/assets.pak"] = Random(5, 100);
  EXPECT_THROW(BuildPatch(alike, DefaultHeader("1.00", "1.01")), AuthoringError);

  // One variant's patched executable is the other's unpatched one: a checksum
  // would select both groups.
  auto crossed = variants;
  crossed[1].old_tree.files["/qtr.exe"] = crossed[0].new_tree.files["/qtr.exe"];
  EXPECT_THROW(BuildPatch(crossed, DefaultHeader("1.00", "1.01")), AuthoringError);

  // A file that becomes a directory: the patcher adds before it deletes.
  auto to_dir = variants;
  for (auto& v : to_dir) v.new_tree.files["/data/old.txt/inner.txt"] = Text("x");
  EXPECT_THROW(BuildPatch(to_dir, DefaultHeader("1.00", "1.01")), AuthoringError);
  auto to_file = variants;
  for (auto& v : to_file) {
    v.new_tree.files.erase("/data/assets.pak");
    v.new_tree.files["/data"] = Text("x");
  }
  EXPECT_THROW(BuildPatch(to_file, DefaultHeader("1.00", "1.01")), AuthoringError);

  // A new file named like the short name of assets.pak: the patcher would
  // remove assets.pak to make room for it. A file of that name the old
  // version has is its own.
  auto aliased = variants;
  for (auto& v : aliased) v.new_tree.files["/data/ASSETS~1.PAK"] = Text("x");
  EXPECT_THROW(BuildPatch(aliased, DefaultHeader("1.00", "1.01")), AuthoringError);
  for (auto& v : aliased) v.old_tree.files["/data/ASSETS~1.PAK"] = Text("y");
  EXPECT_NO_THROW(BuildPatch(aliased, DefaultHeader("1.00", "1.01")));
}

// More files than resource ids 5002..65535 hold, and exactly as many. The
// test build under the sanitizers leaves this one out (scripts/test.sh): it
// builds and checks 60,533 payloads, which takes minutes there.
TEST(BuildPatch, CarriesAsManyFilesAsResourceIdsHold) {
  Variant many;
  many.name = "all";
  for (int i = 0; i < 60534; ++i) many.new_tree.files["/f" + std::to_string(i)] = Text("x");
  EXPECT_THROW(BuildPatch({many}, DefaultHeader("1.00", "1.01")), AuthoringError);
  many.new_tree.files.erase("/f0");
  BuildOptions fast;  // the strongest deflate on 60,533 payloads would only slow the test down
  fast.fast = true;
  EXPECT_NO_THROW(BuildPatch({many}, DefaultHeader("1.00", "1.01"), fast));
}

// Empty files, and names with XML's special characters and non-ASCII
// letters: the self-check reads every path back through the patcher's pack
// reader and compares the patched tree with the new one.
TEST(BuildPatch, EmptyFilesAndSpecialNamesSurviveThePatchersReaders) {
  Variant v;
  v.name = "one";
  v.old_tree.files = {{"/log.txt", Text("some text that goes away")}, {"/R&D's notes;[1].txt", Text("x")}};
  v.new_tree.files = {{"/log.txt", Bytes()}, {"/empty.cfg", Bytes()}, {"/caf\xC3\xA9/&amp;.txt", Text("y")}};
  const BuiltPatch patch = BuildPatch({v}, DefaultHeader("1.00", "1.01"));
  for (const auto& r : patch.resources) EXPECT_FALSE(r.second.empty()) << r.first;
  EXPECT_NO_THROW(SelfCheck(patch, {v}));
  int64_t space = 0;
  const FilePatchList list = PlanFor(patch, Bytes(), space);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0]->dir_part + list[0]->name_part, u"\\caf\u00e9\\&amp;.txt");
  EXPECT_EQ(list[3]->kind, Deleted);
  EXPECT_EQ(list[3]->name_part, u"R&D's notes;[1].txt");
  v.new_tree.files["/say \"hi\".txt"] = Text("z");  // a name Windows cannot hold
  EXPECT_THROW(BuildPatch({v}, DefaultHeader("1.00", "1.01")), AuthoringError);
}

TEST(CheckCarriablePath, RefusesNamesWindowsOrThePatcherCannotHold) {
  // Windows' limit of 259 characters less 64 for the installation folder;
  // counted in 16-bit units, and for a file's folder with "tmp_uncomp.dat".
  const std::string longest = "/" + std::string(194, 'a');
  std::string japanese = "/";
  for (int i = 0; i < 194; ++i) japanese += "\xE3\x82\xA2";  // 194 units, 582 bytes
  const std::string deep = "/" + std::string(180, 'd') + "/a.txt";  // the folder + tmp_uncomp.dat is 196
  for (const std::string& bad : {std::string("/new.dat"), std::string("/sub/UNDIFF.DAT"), std::string("/tmp_uncomp.dat"),
                                 std::string("/a:b"), std::string("/a\\b"), std::string("/q?"), std::string("/x."),
                                 std::string("/dir /f"), std::string("/CON"), std::string("/nul.txt"),
                                 std::string("/com1.log"), std::string("/COM\xC2\xB9.txt"), std::string("/lpt0"),
                                 std::string("/CONOUT$"),
                                 std::string("/und\xC4\xB1" "ff.dat"), std::string("/bad\x01name"), std::string("/\xC3"),
                                 std::string("/\xFF\xFE"), longest + "b", japanese + "\xE3\x82\xA2", deep})
    EXPECT_THROW(CheckCarriablePath(bad), AuthoringError) << bad;
  for (const std::string& good : {std::string("/qtr.exe"), std::string("/bundles/patch.bundle"),
                                  std::string("/caf\xC3\xA9.txt"), std::string("/console.txt"), std::string("/a.b.c"),
                                  longest, japanese})
    EXPECT_NO_THROW(CheckCarriablePath(good)) << good;
  EXPECT_EQ(PathLengthBelowFolder(deep), 196u);
}

// Paths are compared as Windows compares them: through the upcase table,
// one 16-bit unit at a time.
TEST(FoldCase, MatchesNamesTheWayWindowsDoes) {
  EXPECT_EQ(FoldCase("/Data/Readme.TXT"), FoldCase("/DATA/readme.txt"));
  EXPECT_EQ(FoldCase("/caf\xC3\xA9"), FoldCase("/CAF\xC3\x89"));                       // é and É
  EXPECT_EQ(FoldCase("/\xD0\xBF\xD1\x80\xD0\xB8"), FoldCase("/\xD0\x9F\xD0\xA0\xD0\x98"));  // при and ПРИ
  EXPECT_EQ(FoldCase("/\xC4\x81"), FoldCase("/\xC4\x80"));                              // ā and Ā
  EXPECT_EQ(FoldCase("/\xE1\xBE\x80"), FoldCase("/\xE1\xBE\x88"));                      // ᾀ and ᾈ
  EXPECT_NE(FoldCase("/stra\xC3\x9F" "e"), FoldCase("/STRASSE"));                      // ß has no one-unit capital
  EXPECT_NE(FoldCase("/\xE3\x82\xA2"), FoldCase("/\xE3\x82\xA1"));                     // ア and ァ differ
  EXPECT_NE(FoldCase("/a"), FoldCase("/b"));
}

class TreeDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qtr_author_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ / "sub");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void Write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }
  std::filesystem::path dir_;
};

TEST_F(TreeDir, ReadsEveryFileWithItsRelativePath) {
  Write("a.txt", "alpha");
  Write("sub/b.bin", "beta");
  const FileTree tree = ReadTree(dir_.string());
  EXPECT_EQ(tree.files, (std::map<std::string, TreeFile>{{"/a.txt", Text("alpha")}, {"/sub/b.bin", Text("beta")}}));
  EXPECT_EQ(tree.folders, (std::set<std::string>{"/sub"}));
  EXPECT_THROW(ReadTree((dir_ / "missing").string()), AuthoringError);
}

TEST_F(TreeDir, RefusesCaseTwins) {
  Write("Game.ini", "1");
  Write("game.ini", "2");
  EXPECT_THROW(ReadTree(dir_.string()), AuthoringError);
  std::filesystem::remove(dir_ / "game.ini");
  EXPECT_EQ(ReadTree(dir_.string()).files.size(), 1u);
}

// Files of 2 GiB or more (sparse here) are left alone when they do not
// change and deleted by name; only those the patcher must read or write are
// refused, and an update whose old version is too large is written anew.
TEST_F(TreeDir, LargeFilesAreLimitedOnlyWhereThePatcherReadsThem) {
  namespace fs = std::filesystem;
  auto tree = [&](const std::string& name) {
    fs::create_directories(dir_ / name / "data");
    std::ofstream(dir_ / name / "readme.txt") << name;
    return dir_ / name;
  };
  auto huge = [](const fs::path& path, uintmax_t size) {
    std::ofstream(path).close();
    fs::resize_file(path, size);
  };
  auto build = [&](const fs::path& old_dir, const fs::path& new_dir) {
    Variant v{"game", ReadTree(old_dir.string()), ReadTree(new_dir.string())};
    BuiltPatch patch = BuildPatch({v}, DefaultHeader("1.00", "1.01"));
    SelfCheck(patch, {v});
    return patch;
  };
  const fs::path old_dir = tree("old"), new_dir = tree("new");
  huge(old_dir / "data/archive.pak", kFileSizeLimit + 5);
  fs::create_hard_link(old_dir / "data/archive.pak", new_dir / "data/archive.pak");  // the same, unread
  huge(old_dir / "data/gone.pak", kFileSizeLimit);
  const BuiltPatch kept = build(old_dir, new_dir);
  ASSERT_EQ(kept.documents.groups[0].files.size(), 2u);
  EXPECT_EQ(kept.documents.groups[0].files[0].subpath, "/readme.txt");
  EXPECT_EQ(kept.documents.groups[0].files[1].kind, Deleted);
  EXPECT_EQ(kept.documents.groups[0].files[1].subpath, "/data/gone.pak");

  huge(new_dir / "data/movie.bik", kFileSizeLimit);
  try {
    build(old_dir, new_dir);
    FAIL() << "an added file of 2 GiB was accepted";
  } catch (const AuthoringError& e) {
    EXPECT_NE(std::string(e.what()).find("/data/movie.bik"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("below 2 GiB"), std::string::npos) << e.what();
  }
  fs::remove(new_dir / "data/movie.bik");
  std::ofstream(new_dir / "data/gone.pak") << "small now";
  const BuiltPatch shrunk = build(old_dir, new_dir);
  EXPECT_EQ(shrunk.documents.groups[0].files[0].kind, Added);
  EXPECT_EQ(shrunk.documents.groups[0].files[0].subpath, "/data/gone.pak");
}

TEST_F(TreeDir, LinksAreRefusedUnlessFollowedAndFoldersAreListed) {
  namespace fs = std::filesystem;
  Write("sub/b.bin", "beta");
  fs::create_directories(dir_ / "elsewhere/maps");
  std::ofstream(dir_ / "elsewhere/maps/m1.map") << "map";
  fs::create_directory(dir_ / "tree");
  fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "tree/linked");
  fs::create_directory(dir_ / "tree/empty");
  try {
    ReadTree((dir_ / "tree").string());
    FAIL() << "a linked folder was read";
  } catch (const AuthoringError& e) {
    EXPECT_NE(std::string(e.what()).find("symbolic link in the tree"), std::string::npos) << e.what();
  }
  const FileTree followed = ReadTree((dir_ / "tree").string(), {true});
  EXPECT_EQ(followed.files.count("/linked/maps/m1.map"), 1u);
  EXPECT_EQ(followed.folders, (std::set<std::string>{"/empty", "/linked", "/linked/maps"}));
  fs::create_symlink(dir_ / "sub/b.bin", dir_ / "tree/b.bin");
  EXPECT_THROW(ReadTree((dir_ / "tree").string()), AuthoringError);
  EXPECT_EQ(ReadTree((dir_ / "tree").string(), {true}).files.at("/b.bin"), TreeFile(Text("beta")));
  // A followed link back to a folder above it is a loop, said as such.
  fs::create_directory_symlink(dir_ / "tree", dir_ / "elsewhere/maps/up");
  try {
    ReadTree((dir_ / "tree").string(), {true});
    FAIL() << "a link loop was read";
  } catch (const AuthoringError& e) {
    EXPECT_NE(std::string(e.what()).find("symbolic link loop"), std::string::npos) << e.what();
  }
  fs::remove(dir_ / "elsewhere/maps/up");

  // Folders that disappear stay behind; empty new ones cannot be made.
  Variant v{"game", followed, followed};
  v.new_tree.files.erase("/linked/maps/m1.map");
  v.new_tree.folders = {"/empty", "/fresh"};
  const BuiltPatch patch = BuildPatch({v}, DefaultHeader("1.00", "1.01"));
  EXPECT_EQ(patch.plans[0].folders_left, (std::vector<std::string>{"/linked", "/linked/maps"}));
  EXPECT_EQ(patch.plans[0].folders_not_made, (std::vector<std::string>{"/fresh"}));
  ASSERT_EQ(patch.warnings.size(), 1u);
  EXPECT_NE(patch.warnings[0].find("/fresh"), std::string::npos);
}

TEST_F(TreeDir, AtomicWriteLeavesNoPartialFile) {
  const std::string target = (dir_ / "patch.exe").string();
  WriteFileAtomically(target, Text("MZ"));
  EXPECT_EQ(ReadWholeFile(target), Text("MZ"));
  EXPECT_THROW(WriteFileAtomically((dir_ / "no/such/dir/patch.exe").string(), Text("MZ")), AuthoringError);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 2);  // sub and patch.exe
}

uint32_t Get32(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

TEST(PeResources, WritesATreeThatReadsBackAndFixesTheHeaders) {
  std::vector<ResourceEntry> own(3);
  own[0].type.id = 24;  // application manifest
  own[0].name.id = 1;
  own[0].language = 1033;
  own[0].data = Text("<assembly/>");
  own[1].type.id = 6;  // a string table block
  own[1].name.id = 13;
  own[1].language = 1031;
  own[1].data = Random(4, 333);
  own[2] = own[1];
  own[2].language = 1033;
  const Bytes with_own = WritePeResources(MinimalGuiImage(), own);
  EXPECT_EQ(with_own[0x46], 2);                         // a second section
  EXPECT_EQ(Get32(with_own, 0x58 + 96 + 16), 0x2000u);  // resource directory RVA
  EXPECT_EQ(Get32(with_own, 0x58 + 56) % 0x1000, 0u);   // SizeOfImage aligned
  EXPECT_EQ(Get32(with_own, 0x58 + 56), 0x3000u);
  EXPECT_EQ(with_own.size() % 0x200, 0u);
  EXPECT_NE(Get32(with_own, 0x58 + 64), 0u);  // checksum

  const Bytes big = Random(8, 100000);
  const Bytes patched =
      AddDataResources(with_own, {{5002, Text("<patch/>")}, {5001, Text("<patch>")}, {5003, big}});
  EXPECT_EQ(patched[0x46], 2);  // the last section was the resources: rewritten in place
  const auto read = ReadPeResources(patched);
  ASSERT_EQ(read.size(), 6u);
  // Named types first ("DATA"), then numbered ones in order; names by id.
  EXPECT_EQ(read[0].type.text, u"DATA");
  EXPECT_EQ(read[0].name.id, 5001);
  EXPECT_EQ(read[0].data, Text("<patch>"));
  EXPECT_EQ(read[1].name.id, 5002);
  EXPECT_EQ(read[2].data, big);
  EXPECT_EQ(read[2].language, 1033);
  EXPECT_EQ(read[3].type.id, 6);
  EXPECT_EQ(read[3].language, 1031);
  EXPECT_EQ(read[4].language, 1033);
  EXPECT_EQ(read[5].type.id, 24);
  EXPECT_EQ(read[5].data, Text("<assembly/>"));
  const uint32_t image_size = Get32(patched, 0x58 + 56);
  const uint32_t rsrc_size = Get32(patched, 0x58 + 96 + 20);
  EXPECT_GE(image_size, 0x2000u + rsrc_size);
  EXPECT_LT(image_size, 0x2000u + rsrc_size + 0x1000u);
  EXPECT_TRUE(AddDataResources(with_own, {{5002, Text("<patch/>")}, {5001, Text("<patch>")}, {5003, big}}) ==
              patched);

  Bytes overlay = with_own;
  overlay.push_back(0);
  EXPECT_THROW(WritePeResources(overlay, own), AuthoringError);
  EXPECT_THROW(ReadPeResources(Text("not an executable at all, just text of some length......")),
               AuthoringError);
  Bytes truncated(with_own.begin(), with_own.begin() + 0x300);
  EXPECT_THROW(ReadPeResources(truncated), AuthoringError);
}

// Only the stub patcher takes a patch: a Windows GUI program with the
// progress dialog and the eight languages' string tables, and no patch yet.
TEST(PeResources, OnlyTheStubPatcherIsAcceptedAsStub) {
  EXPECT_NO_THROW(CheckStubPatcher(FakeStubPatcher()));
  EXPECT_THROW(CheckStubPatcher(MinimalGuiImage()), AuthoringError);
  const BuiltPatch patch = BuildPatch(TwoEditions(), DefaultHeader("1.00", "1.01"));
  const Bytes image = MakePatchExecutable(FakeStubPatcher(), patch);
  EXPECT_THROW(CheckStubPatcher(image), AuthoringError);  // it carries a patch already
  EXPECT_EQ(ReadPatchResources(image, "patch").size(), patch.resources.size());
}

}  // namespace

namespace {

// A damaged stub is refused with a message, never read out of bounds (the
// sanitizer build checks the latter).
TEST(PeResources, DamagedImagesAreRefusedCleanly) {
  std::vector<ResourceEntry> own(2);
  own[0].type.is_id = false;
  own[0].type.text = u"DATA";
  own[0].name.id = 7;
  own[0].data = Random(6, 900);
  own[1].type.id = 24;
  own[1].name.is_id = false;
  own[1].name.text = u"MANIFEST";
  own[1].data = Text("<assembly/>");
  const Bytes image = WritePeResources(MinimalGuiImage(), own);
  std::mt19937 rng(5150);
  int refused = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes damaged = image;
    for (int k = 0; k < 4; ++k) {
      // Mostly the headers and the resource tree's directories.
      const size_t at = rng() % 2 == 0 ? rng() % 0x200 : 0x400 + rng() % 0x100;
      damaged[at] = static_cast<uint8_t>(rng());
    }
    try {
      ReadPeResources(damaged);
    } catch (const AuthoringError&) {
      ++refused;
    }
  }
  EXPECT_GT(refused, 100);  // the damage does reach the checks
}

// Whether `text` is a sequence of whole UTF-8 characters of up to 3 bytes.
bool IsWholeUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

// A long path in the status line is cut around "...": never inside a
// character, which a terminal would show as garbage.
TEST(StatusLine, ShortensLongTextBetweenCharacters) {
  EXPECT_EQ("short", ShortStatusText("short"));
  for (size_t pad = 0; pad < 4; ++pad) {
    std::string text = "diffing " + std::string(pad, 'x');
    while (text.size() < 160) text += "\xC3\xA9\xE6\x97\xA5";  // U+00E9 and U+65E5, 5 bytes together
    const std::string line = ShortStatusText(text);
    EXPECT_LE(line.size(), 103u);
    const size_t cut = line.find("...");
    ASSERT_NE(std::string::npos, cut);
    EXPECT_EQ(0, text.compare(0, cut, line, 0, cut)) << "the start is the text's own";
    EXPECT_TRUE(text.size() >= line.size() - cut - 3 &&
                text.compare(text.size() - (line.size() - cut - 3), std::string::npos, line, cut + 3) == 0)
        << "the end is the text's own";
    EXPECT_TRUE(IsWholeUtf8(line.substr(0, cut))) << "pad " << pad;
    EXPECT_TRUE(IsWholeUtf8(line.substr(cut + 3))) << "pad " << pad;
  }
}

// A text that comes sooner than the interval after the one before is shown
// once the interval allows, even when nothing follows it: a long stage after
// a quick one shows its own name, not the quick one's.
TEST(StatusLine, TheLatestTextIsShownEvenWhenNothingFollowsIt) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "qtr_status_line.txt";
  std::FILE* stream = std::fopen(path.string().c_str(), "w");
  ASSERT_NE(stream, nullptr);
  std::string written;
  {
    Progress progress(true, stream);
    progress.Show("reading a/old");
    progress.Show("reading a/new");
    for (int waited = 0; waited < 3000 && written.find("reading a/new") == std::string::npos; waited += 10) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::ifstream in(path, std::ios::binary);
      written.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  std::fclose(stream);
  std::filesystem::remove(path);
  EXPECT_NE(written.find("reading a/old"), std::string::npos);
  EXPECT_NE(written.find("reading a/new"), std::string::npos) << "the second text was dropped";
}

}  // namespace
