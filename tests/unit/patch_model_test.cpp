// The patcher's run as the authoring tool models it, on installations whose
// names compare without case: what the self-check refuses, what verify
// reports, what inspect reads back.
#include <gtest/gtest.h>
#include <zlib.h>

#include "tests/unit/authoring_fixtures.h"
#include "tools/cli/inspect.h"
#include "tools/cli/verify.h"
#include "tools/common/authoring_error.h"
#include "tools/plan/self_check.h"

namespace {

std::string RefusalOf(const BuiltPatch& patch, const std::vector<Variant>& variants) {
  try {
    SelfCheck(patch, variants);
  } catch (const AuthoringError& e) {
    return e.what();
  }
  return "";
}

// The same trees, with the documents and payloads an older tool wrote.
BuiltPatch WithResources(BuiltPatch patch, const AuthoredPatch& documents, const PatchResources& resources) {
  patch.documents = documents;
  patch.resources.assign(resources.begin(), resources.end());
  return patch;
}

// `bytes` with some of the eight bytes from `at` on changed so that the
// CRC-32 stays the same: the CRC of a xor of two inputs of one length is the
// xor of theirs and the CRC of zeros, so the change must be a combination of
// single-bit changes whose CRCs cancel out (64 bits in a 32-bit space: one
// exists).
Bytes SameCrcOtherBytes(Bytes bytes, size_t at) {
  Bytes zeros(bytes.size(), 0);
  const auto crc = [&zeros] { return static_cast<uint32_t>(crc32(0, zeros.data(), static_cast<uInt>(zeros.size()))); };
  const uint32_t base = crc();
  uint32_t pivot_crc[32] = {};
  uint64_t pivot_bits[32] = {};
  for (int bit = 0; bit < 64; ++bit) {
    zeros[at + bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
    uint32_t syndrome = crc() ^ base;
    zeros[at + bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
    uint64_t bits = uint64_t{1} << bit;
    for (int lead = 31; lead >= 0 && syndrome != 0; --lead) {
      if (!((syndrome >> lead) & 1)) continue;
      if (pivot_crc[lead] == 0) {
        pivot_crc[lead] = syndrome;
        pivot_bits[lead] = bits;
        break;
      }
      syndrome ^= pivot_crc[lead];
      bits ^= pivot_bits[lead];
    }
    if (syndrome != 0) continue;
    for (int b = 0; b < 64; ++b)
      if ((bits >> b) & 1) bytes[at + b / 8] ^= static_cast<uint8_t>(1 << (b % 8));
    return bytes;
  }
  return bytes;
}

Variant OneFile(const std::string& old_path, const Bytes& old_bytes, const std::string& new_path,
                const Bytes& new_bytes) {
  Variant v;
  v.name = "game";
  v.old_tree.files = {{old_path, old_bytes}, {"/qtr.exe", Random(7, 3000)}};
  v.new_tree.files = {{new_path, new_bytes}, {"/qtr.exe", Random(7, 3000)}};
  return v;
}

// A file renamed only in case is one file on the installation: it is
// updated (or left alone), never added and deleted. Written as an added and
// a deleted entry, the deleted one removes the file just written, and the
// self-check must see that, as the patcher's file system would.
TEST(CaseOnlyRename, IsOneFileAndTheModelSeesTheLostFile) {
  const Variant renamed = OneFile("/Data/Readme.TXT", Text("old readme text"), "/Data/README.txt",
                                  Text("new readme text!"));
  const BuiltPatch patch = BuildPatch({renamed}, DefaultHeader("1.00", "1.01"));
  ASSERT_EQ(patch.documents.groups.size(), 1u);
  const auto& files = patch.documents.groups[0].files;
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].kind, Updated);
  EXPECT_EQ(files[0].subpath, "/Data/README.txt");
  EXPECT_EQ(RefusalOf(patch, {renamed}), "");

  // Same bytes under another case, and a folder renamed in case: nothing to
  // do for either.
  Variant same = renamed;
  same.new_tree.files = {{"/DATA/readme.txt", Text("old readme text")}, {"/qtr.exe", Random(7, 3001)}};
  const BuiltPatch unchanged = BuildPatch({same}, DefaultHeader("1.00", "1.01"));
  ASSERT_EQ(unchanged.documents.groups[0].files.size(), 1u);
  EXPECT_EQ(unchanged.documents.groups[0].files[0].subpath, "/qtr.exe");
  EXPECT_EQ(unchanged.plans[0].unchanged_files, 1u);
  // The summary says that the unchanged file keeps its old spelling.
  EXPECT_EQ(unchanged.plans[0].names_kept,
            (std::vector<std::pair<std::string, std::string>>{{"/Data/Readme.TXT", "/DATA/readme.txt"}}));
  EXPECT_TRUE(patch.plans[0].names_kept.empty());

  // A change of case beyond A-Z is refused, with new bytes or the same: for
  // some letters (\u0131 and I) it is one file on a volume whose upcase table
  // folds the letter and two on one whose table does not, and no patch suits
  // both; the tool does not tell those letters from the rest (\u00e9 and \u00c9).
  for (const auto& [old_path, new_path] :
       {std::pair<std::string, std::string>{"/\xC4\xB1.txt", "/I.txt"}, {"/caf\xC3\xA9/a.txt", "/CAF\xC3\x89/a.txt"}})
    for (const bool same_bytes : {false, true}) {
      const Variant recased = OneFile(old_path, Text("text"), new_path, Text(same_bytes ? "text" : "new text"));
      EXPECT_THROW(BuildPatch({recased}, DefaultHeader("1.00", "1.01")), AuthoringError) << new_path;
    }

  AuthoredPatch old_style;
  old_style.header = DefaultHeader("1.00", "1.01");
  old_style.groups.resize(1);
  old_style.groups[0].files.resize(2);
  old_style.groups[0].files[0].kind = Added;
  old_style.groups[0].files[0].subpath = "/Data/README.txt";
  old_style.groups[0].files[1].kind = Deleted;
  old_style.groups[0].files[1].subpath = "/Data/Readme.TXT";
  const PatchResources resources = HandMadePatch(old_style, {{"/Data/README.txt", Text("new readme text!")}});
  InstallationModel installation(renamed.old_tree);
  EXPECT_EQ(SimulateRun(resources, installation).end, RunEnd::Success);  // box 216 ...
  EXPECT_EQ(installation.Find("/data/readme.txt"), nullptr);             // ... and the file is gone
  const std::string refusal = RefusalOf(WithResources(patch, old_style, resources), {renamed});
  EXPECT_NE(refusal.find("/Data/Readme.TXT: two entries of the patch name this file"), std::string::npos) << refusal;
}

// A file that becomes empty travels as an added entry. As an updated one, a
// rerun after the entry was applied finds the new size, must read the
// checksum of an empty file, cannot, and stops with box 215 on every run.
TEST(FileThatBecomesEmpty, IsWrittenAnewSoThatEveryRerunFinishes) {
  const Variant emptied = OneFile("/save/slot1.dat", Text("some saved state"), "/save/slot1.dat", Bytes());
  const BuiltPatch patch = BuildPatch({emptied}, DefaultHeader("1.00", "1.01"));
  const auto& files = patch.documents.groups[0].files;
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].kind, Added);
  EXPECT_EQ(files[0].size, 0u);
  EXPECT_EQ(patch.plans[0].changes.begin()->second.written_whole, "the new file is empty");
  EXPECT_EQ(RefusalOf(patch, {emptied}), "");

  AuthoredPatch as_update;
  as_update.header = DefaultHeader("1.00", "1.01");
  as_update.groups.resize(1);
  as_update.groups[0].files.resize(1);
  AuthoredFile& f = as_update.groups[0].files[0];
  f.kind = Updated;
  f.subpath = "/save/slot1.dat";
  f.size_org = 16;
  f.crc_org = TreeFile(Text("some saved state")).Crc();
  PatchResources resources = HandMadePatch(as_update, {{"/save/slot1.dat", Bytes()}});
  const std::string refusal = RefusalOf(WithResources(patch, as_update, resources), {emptied});
  EXPECT_NE(refusal.find("could never be finished"), std::string::npos) << refusal;
  EXPECT_NE(refusal.find("box 215"), std::string::npos) << refusal;
}

TEST(Verify, EveryEditionAgainstItsTreesAndFaultsNamed) {
  const auto variants = TwoEditions();
  const BuiltPatch patch = BuildPatch(variants, DefaultHeader("1.00", "1.01"));
  const PatchResources resources = ResourcesOf(patch);
  std::vector<Edition> editions(2);
  for (int i = 0; i < 2; ++i) {
    editions[i].old_tree = variants[i].old_tree;
    editions[i].new_tree = variants[i].new_tree;
  }
  for (const auto& r : VerifyPatch(resources, editions)) EXPECT_TRUE(r.ok()) << r.run.reason;

  // The wrong edition's new tree: its own group rebuilds its own executable.
  std::vector<Edition> crossed = {editions[0]};
  crossed[0].new_tree = variants[1].new_tree;
  const auto mismatch = VerifyPatch(resources, crossed);
  EXPECT_FALSE(mismatch[0].ok());
  ASSERT_EQ(mismatch[0].differences.size(), 1u);
  EXPECT_EQ(mismatch[0].differences[0], "/qtr.exe: differs from the new tree's");

  // A new tree whose executable has the rebuilt one's size and checksum but
  // other bytes: the rebuilt file is compared byte for byte, not by its
  // checksum.
  std::vector<Edition> forged = {editions[0]};
  const std::shared_ptr<const FileData> real = editions[0].new_tree->files.at("/qtr.exe").Load();
  const Bytes other = SameCrcOtherBytes(Bytes(real->data(), real->data() + real->size()), real->size() / 2);
  ASSERT_FALSE(other == Bytes(real->data(), real->data() + real->size()));
  ASSERT_EQ(crc32(0, other.data(), static_cast<uInt>(other.size())),
            crc32(0, real->data(), static_cast<uInt>(real->size())));
  forged[0].new_tree->files["/qtr.exe"] = other;
  const auto caught = VerifyPatch(resources, forged);
  ASSERT_EQ(caught[0].differences.size(), 1u);
  EXPECT_EQ(caught[0].differences[0], "/qtr.exe: differs from the new tree's");

  // An installation the patch does not know: the data file has other bytes.
  std::vector<Edition> foreign = {editions[0]};
  foreign[0].old_tree.files["/readme.txt"] = Text("a readme of another size");
  const auto refused = VerifyPatch(resources, foreign);
  EXPECT_EQ(refused[0].run.end, RunEnd::Corrupted);
  EXPECT_EQ(refused[0].run.failed_path, "/readme.txt");
  EXPECT_TRUE(refused[0].run.entries.empty());  // the pre-flight pass stops before any entry

  // One byte of a deflated payload changed: it no longer inflates.
  PatchResources damaged = resources;
  Bytes& payload = damaged.at(patch.documents.groups[1].files[0].id);
  payload[payload.size() / 2] ^= 0x40;
  const auto broken = VerifyPatch(damaged, {editions[0]});
  EXPECT_EQ(broken[0].run.end, RunEnd::DiskError);
  EXPECT_EQ(broken[0].run.failed_path, "/qtr.exe");
  EXPECT_NE(VerifyText({editions[0]}, broken).find("FAILED"), std::string::npos);
}

// Editions whose own files turn into another edition's old files: the new
// trees went to the wrong editions. Where the key file still tells them
// apart this is a warning; where it cannot, the refusal says why.
TEST(Summary, WarnsOfTreesPairedWithTheWrongEdition) {
  std::vector<Variant> variants(2);
  for (int i = 0; i < 2; ++i) {
    variants[i].name = i == 0 ? "censored" : "uncensored";
    variants[i].old_tree.files = {{"/qtr.exe", Random(20 + i, 5000)}, {"/blood.pak", Random(30 + i, 4000)},
                                  {"/gore.pak", Random(40 + i, 4000)}, {"/data.pak", Random(1, 3000)}};
  }
  for (int i = 0; i < 2; ++i) {
    variants[i].new_tree = variants[1 - i].old_tree;
    variants[i].new_tree.files["/qtr.exe"] = Random(50 + i, 5000);  // a new executable of its own
  }
  const BuiltPatch patch = BuildPatch(variants, DefaultHeader("1.00", "1.01"));
  ASSERT_EQ(patch.warnings.size(), 2u);
  EXPECT_NE(patch.warnings[0].find("censored: 2 of its 3 own updated files become the old files of uncensored"),
            std::string::npos)
      << patch.warnings[0];

  for (int i = 0; i < 2; ++i) variants[i].new_tree = variants[1 - i].old_tree;
  try {
    BuildPatch(variants, DefaultHeader("1.00", "1.01"));
    FAIL() << "editions that no key file tells apart were accepted";
  } catch (const AuthoringError& e) {
    EXPECT_NE(std::string(e.what()).find("is its new tree uncensored's?"), std::string::npos) << e.what();
  }
}

TEST(Inspect, ReadsGroupsAndEntriesBackAsThePatcherDoes) {
  const BuiltPatch patch = BuildPatch(TwoEditions(), DefaultHeader("1.00", "1.01"));
  const PatchResources resources = ResourcesOf(patch);
  const PatchContents contents = ReadPatchContents(resources);
  EXPECT_EQ(contents.header.to, "1.01");
  ASSERT_EQ(contents.groups.size(), 3u);
  EXPECT_FALSE(contents.groups[0].filtered);
  ASSERT_EQ(contents.groups[0].packs.size(), 1u);
  EXPECT_EQ(contents.groups[0].packs[0].entries.size(), 3u);
  EXPECT_TRUE(contents.groups[1].filtered);
  EXPECT_EQ(contents.groups[1].filename, "qtr.exe");
  EXPECT_EQ(contents.groups[1].crc, ChecksumText(patch.documents.groups[1].crc));
  const std::string text = InspectText(contents, resources);
  EXPECT_NE(text.find("updated /qtr.exe"), std::string::npos) << text;
  const std::string json = InspectJson(contents, resources);
  EXPECT_NE(json.find("\"kind\": \"deleted\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"filename\": \"qtr.exe\""), std::string::npos) << json;
}

}  // namespace
