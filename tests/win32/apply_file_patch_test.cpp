#include "files/apply_file_patch.h"

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "files/block_pool.h"
#include "files/preflight.h"
#include "tests/win32/file_entry_fixture_win.h"

namespace file_entry_test {
// While set, every array allocation of this program fails, as it would on a
// machine out of memory: the file steps' buffers are the only arrays the
// entry's steps allocate.
bool refuse_arrays = false;
}  // namespace file_entry_test

void* operator new[](std::size_t size) {
  void* memory = file_entry_test::refuse_arrays ? nullptr : std::malloc(size != 0 ? size : 1);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace file_entry_test {
namespace {

const char* const kTemporaryNames[] = {"new.dat", "undiff.dat", "tmp_uncomp.dat"};

class ApplyEntry : public ScratchDirectory {
 protected:
  void SetUp() override {
    ScratchDirectory::SetUp();
    oldFile = Resource(kOldFile);
    newFile = Resource(kNewFile);
  }

  // The updated entry of qtr.exe with the payload `id`.
  FilePatch UpdatedEntry(int id, bool diff, bool comp) {
    FilePatch entry = Entry(Updated, u"\\", u"qtr.exe");
    entry.crc_org = CrcOf(oldFile);
    entry.size_org = std::to_string(oldFile.size());
    entry.crc = CrcOf(newFile);
    entry.size = std::to_string(newFile.size());
    entry.id = id;
    entry.diff = diff;
    if (diff) entry.diff_size = std::to_string(Resource(kDiff).size());
    entry.comp = comp;
    if (comp) entry.comp_size = std::to_string(Resource(id).size());
    return entry;
  }

  // Runs the pre-flight pass and the entry, as the install phase does.
  ApplyResult Apply(FilePatch& entry) {
    if (!PreflightFilePatch(entry, &root)) return static_cast<ApplyResult>(-1);
    return ApplyFilePatch(entry);
  }

  void ExpectNoTemporaryFiles(const WideText& subdir = u"") {
    for (const char* name : kTemporaryNames) {
      EXPECT_FALSE(Exists(subdir + WidenAscii(name))) << name;
    }
  }

  std::string oldFile, newFile;
  ProgressReporter root{nullptr, WideText()};
};

TEST_F(ApplyEntry, DeflatedDiffRebuildsTheFileAndLeavesNothingBehind) {
  Write(u"qtr.exe", oldFile);
  Write(u"new.dat", "left over from an interrupted run");
  Write(u"undiff.dat", "left over too");
  FilePatch entry = UpdatedEntry(kDiffPacked, true, true);
  ASSERT_EQ(Apply(entry), Done);
  EXPECT_TRUE(Read(u"qtr.exe") == newFile);
  ExpectNoTemporaryFiles();
  EXPECT_EQ(DoneBytes(*entry.entry_progress), TotalBytes(*entry.entry_progress));
  EXPECT_FLOAT_EQ(Fraction(root), 1.0f);
}

TEST_F(ApplyEntry, PlainDiffAndWholeFilePayloads) {
  struct Case {
    int id;
    bool diff, comp;
  };
  for (const Case& c :
       {Case{kDiff, true, false}, Case{kNewFile, false, false}, Case{kNewPacked, false, true}}) {
    Write(u"qtr.exe", oldFile);
    FilePatch entry = UpdatedEntry(c.id, c.diff, c.comp);
    EXPECT_EQ(Apply(entry), Done) << c.id;
    EXPECT_TRUE(Read(u"qtr.exe") == newFile) << c.id;
    ExpectNoTemporaryFiles();
  }
}

TEST_F(ApplyEntry, AnAlreadyPatchedFileIsLeftAlone) {
  Write(u"qtr.exe", newFile);
  FilePatch entry = UpdatedEntry(kCutStream, true, true);  // a payload that would fail if it were used
  ASSERT_EQ(Apply(entry), Done);
  EXPECT_TRUE(Read(u"qtr.exe") == newFile);
  ExpectNoTemporaryFiles();
  ASSERT_NE(entry.crc_progress, nullptr);
  EXPECT_EQ(DoneBytes(*entry.entry_progress), TotalBytes(*entry.entry_progress));
}

TEST_F(ApplyEntry, AVerifiedReplacementBesideAMissingTargetFinishesTheEntry) {
  // The state a run leaves when it stops after removing the target and
  // before the move; the payload would fail if it were used.
  struct Case {
    bool diff;
    const char16_t* replacement;
  };
  for (const Case& c : {Case{true, u"undiff.dat"}, Case{false, u"new.dat"}}) {
    Write(c.replacement, newFile);
    FilePatch entry = UpdatedEntry(kCutStream, c.diff, true);
    ASSERT_TRUE(PreflightFilePatch(entry, &root));
    EXPECT_TRUE(Read(u"qtr.exe") == newFile);
    ASSERT_NE(entry.crc_progress, nullptr);
    EXPECT_EQ(entry.crc_progress->total(), newFile.size());
    EXPECT_EQ(ApplyFilePatch(entry), Done);
    EXPECT_TRUE(Read(u"qtr.exe") == newFile);
    ExpectNoTemporaryFiles();
    EXPECT_EQ(DoneBytes(*entry.entry_progress), TotalBytes(*entry.entry_progress));
    ASSERT_TRUE(DeleteFileW(WinText(Path(u"qtr.exe"))));
  }

  // A replacement that does not verify, or one under the other entry kind's
  // name, stays where it is and the missing target fails the pass.
  std::string wrong = newFile;
  wrong[4321] ^= 0x10;
  Write(u"undiff.dat", wrong);
  FilePatch entry = UpdatedEntry(kDiffPacked, true, true);
  EXPECT_FALSE(PreflightFilePatch(entry, &root));
  EXPECT_TRUE(Read(u"undiff.dat") == wrong);
  Write(u"undiff.dat", newFile);
  FilePatch whole = UpdatedEntry(kNewPacked, false, true);
  EXPECT_FALSE(PreflightFilePatch(whole, &root));
  EXPECT_TRUE(Read(u"undiff.dat") == newFile);
  EXPECT_FALSE(Exists(u"qtr.exe"));
}

TEST_F(ApplyEntry, PatchedSizeWithAThirdCrcIsAMismatch) {
  std::string third = newFile;
  third[12345] ^= 0x55;
  Write(u"qtr.exe", third);
  FilePatch entry = UpdatedEntry(kDiffPacked, true, true);
  EXPECT_EQ(Apply(entry), Mismatch);
  EXPECT_TRUE(Read(u"qtr.exe") == third);
  ExpectNoTemporaryFiles();
}

TEST_F(ApplyEntry, EqualSizesNeedTheUnpatchedCrc) {
  // A patch that changes content but not size: only the file with crc_org is patched.
  const std::string small = Resource(kSmallFile);
  std::string before = small;
  before[0] = 'q';
  const auto entry = [&] {
    FilePatch made = UpdatedEntry(kSmallFile, false, false);
    made.crc = CrcOf(small);
    made.size = std::to_string(small.size());
    made.crc_org = CrcOf(before);
    made.size_org = made.size;
    return made;
  };

  std::string stranger = small;
  stranger[1] = 'U';
  Write(u"qtr.exe", stranger);
  FilePatch other = entry();
  EXPECT_EQ(Apply(other), Mismatch);
  EXPECT_EQ(Read(u"qtr.exe"), stranger);

  Write(u"qtr.exe", before);
  FilePatch unpatched = entry();
  EXPECT_EQ(Apply(unpatched), Done);
  EXPECT_EQ(Read(u"qtr.exe"), small);
  ExpectNoTemporaryFiles();
}

TEST_F(ApplyEntry, UnpatchedSizeWithOtherContentIsRefusedUntouched) {
  // Same size as the unpatched file, so no CRC is read before patching; the
  // rebuilt file then differs from the entry's and must not replace it.
  std::string other = oldFile;
  other[800000] ^= 0x01;
  Write(u"qtr.exe", other);
  FilePatch entry = UpdatedEntry(kDiffPacked, true, true);
  EXPECT_EQ(Apply(entry), Mismatch);
  EXPECT_TRUE(Read(u"qtr.exe") == other);
  ExpectNoTemporaryFiles();
}

TEST_F(ApplyEntry, ADiffThatRebuildsTheWrongFileIsRefusedUntouched) {
  Write(u"qtr.exe", oldFile);
  FilePatch entry = UpdatedEntry(kWrongDiff, true, true);
  EXPECT_EQ(Apply(entry), Mismatch);
  EXPECT_TRUE(Read(u"qtr.exe") == oldFile);
  ExpectNoTemporaryFiles();
}

TEST_F(ApplyEntry, ATruncatedPayloadIsADiskErrorAndChangesNothing) {
  Write(u"qtr.exe", oldFile);
  FilePatch entry = UpdatedEntry(kCutStream, false, true);
  EXPECT_EQ(Apply(entry), DiskError);
  EXPECT_TRUE(Read(u"qtr.exe") == oldFile);
  ExpectNoTemporaryFiles();
}

TEST_F(ApplyEntry, AMissingTargetIsAMismatchNeverADiskError) {
  FilePatch entry = UpdatedEntry(kDiffPacked, true, true);
  EXPECT_EQ(ApplyFilePatch(entry), Mismatch);
  ExpectNoTemporaryFiles();
}

TEST_F(ApplyEntry, HeldFilesGiveDiskErrors) {
  Write(u"qtr.exe", oldFile);
  {
    FilePatch entry = UpdatedEntry(kDiffPacked, true, true);
    ASSERT_TRUE(PreflightFilePatch(entry, &root));
    HeldOpen held(Path(u"qtr.exe"));
    ASSERT_TRUE(held.held());
    EXPECT_EQ(ApplyFilePatch(entry), DiskError);
  }
  EXPECT_TRUE(Read(u"qtr.exe") == oldFile);
  ExpectNoTemporaryFiles();

  // A leftover "undiff.dat" that cannot be removed stops the entry before
  // the target is touched, and "new.dat" goes again.
  Write(u"undiff.dat", "held");
  {
    HeldOpen held(Path(u"undiff.dat"));
    ASSERT_TRUE(held.held());
    FilePatch entry = UpdatedEntry(kDiffPacked, true, true);
    EXPECT_EQ(Apply(entry), DiskError);
  }
  EXPECT_TRUE(Read(u"qtr.exe") == oldFile);
  EXPECT_FALSE(Exists(u"new.dat"));
  EXPECT_EQ(Read(u"undiff.dat"), "held");
}

TEST_F(ApplyEntry, AddedFileInNewDirectories) {
  Write(u"data\\maps\\new.dat", "left over");
  const std::string small = Resource(kSmallFile);
  const auto entry = [&] {
    FilePatch made = Entry(Added, u"\\data\\maps\\deep\\", u"k\u00FCste.map");
    made.crc = CrcOf(small);
    made.size = std::to_string(small.size());
    made.id = kSmallFile;
    return made;
  };
  FilePatch first = entry();
  ASSERT_EQ(Apply(first), Done);
  EXPECT_EQ(Read(u"data\\maps\\deep\\k\u00FCste.map"), small);
  ExpectNoTemporaryFiles(u"data\\maps\\deep\\");
  EXPECT_EQ(Read(u"data\\maps\\new.dat"), "left over");

  // Added entries are always written anew.
  Write(u"data\\maps\\deep\\k\u00FCste.map", "something else entirely");
  FilePatch again = entry();
  ASSERT_EQ(Apply(again), Done);
  EXPECT_EQ(Read(u"data\\maps\\deep\\k\u00FCste.map"), small);
}

TEST_F(ApplyEntry, AddedPayloadOfTheWrongContentIsNotInstalled) {
  FilePatch entry = Entry(Added, u"\\bundles\\", u"patch.bundle");
  entry.crc = CrcOf(newFile);
  entry.size = std::to_string(newFile.size() + 1);
  entry.id = kNewPacked;
  entry.comp = true;
  entry.comp_size = std::to_string(Resource(kNewPacked).size());
  EXPECT_EQ(Apply(entry), Mismatch);
  EXPECT_FALSE(Exists(u"bundles\\patch.bundle"));
  ExpectNoTemporaryFiles(u"bundles\\");

  FilePatch wrongCrc = Entry(Added, u"\\bundles\\", u"patch.bundle");
  wrongCrc.crc = "00000000";
  wrongCrc.size = std::to_string(newFile.size());
  wrongCrc.id = kNewFile;
  EXPECT_EQ(Apply(wrongCrc), Mismatch);
  EXPECT_FALSE(Exists(u"bundles\\patch.bundle"));
  ExpectNoTemporaryFiles(u"bundles\\");
}

// A buffer that cannot be had ends the run as every allocation failure does
// (the internal-error ending, reached by the exception), not as a disk error
// that would have the player try again: neither the checksum, nor the
// inflation, nor the diff applier's reader and writer turn it into a false
// result. The installed file stays as it was.
TEST_F(ApplyEntry, ABufferThatCannotBeHadIsNoDiskError) {
  struct Case {
    const char* step;
    int id;
    bool diff, comp;
    bool patched_size;  // the installed file has the new size, so its CRC is read first
  };
  const Case cases[] = {{"checksum", kNewPacked, false, true, true},
                        {"inflation", kNewPacked, false, true, false},
                        {"diff applier", kDiff, true, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    const std::string installed = c.patched_size ? std::string(newFile.size(), 'x') : oldFile;
    Write(u"qtr.exe", installed);
    FilePatch entry = UpdatedEntry(c.id, c.diff, c.comp);
    if (c.patched_size) entry.crc_org = CrcOf(installed);
    ASSERT_TRUE(PreflightFilePatch(entry, &root));
    // Blocks kept from earlier steps would be handed out without allocating.
    std::vector<Block> kept;
    while (KeptBlockCount() > 0) kept.push_back(TakeBlock(kBlockSize));
    refuse_arrays = true;
    EXPECT_THROW(ApplyFilePatch(entry), std::bad_alloc);
    refuse_arrays = false;
    EXPECT_TRUE(Read(u"qtr.exe") == installed);
  }
}

TEST_F(ApplyEntry, DeletedEntries) {
  Write(u"old\\gone.txt", "bye");
  FilePatch present = Entry(Deleted, u"\\old\\", u"gone.txt");
  EXPECT_EQ(Apply(present), Done);
  EXPECT_FALSE(Exists(u"old\\gone.txt"));
  EXPECT_TRUE(Exists(u"old"));

  FilePatch absent = Entry(Deleted, u"\\old\\", u"gone.txt");
  EXPECT_EQ(Apply(absent), Done);

  Write(u"held.txt", "busy");
  HeldOpen held(Path(u"held.txt"));
  ASSERT_TRUE(held.held());
  FilePatch busy = Entry(Deleted, u"\\", u"held.txt");
  EXPECT_EQ(Apply(busy), DiskError);
  EXPECT_TRUE(Exists(u"held.txt"));
}

}  // namespace
}  // namespace file_entry_test
