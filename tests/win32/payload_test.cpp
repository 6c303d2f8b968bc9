// Payload resources of this test program into "new.dat": plain and zlib
// payloads, streams that must be rejected, and what is left on disk.
#include <gtest/gtest.h>
#include <zlib.h>

#include "files/payload.h"
#include "manifest/file_patch.h"
#include "tests/win32/scratch_dir_win.h"
#include "ui/progress_tree.h"

namespace {

Bytes Expected(const char* name) {
  return ReadBytes(WidenAscii(QTR_PAYLOAD_DIR) + u"/" + WidenAscii(name) + u".expected");
}
Bytes Carried(const char* name) {
  return ReadBytes(WidenAscii(QTR_PAYLOAD_DIR) + u"/" + WidenAscii(name) + u".payload");
}

struct Extraction {
  ScratchDir dir;
  FilePatch entry;
  ProgressReporter named{nullptr, u"target"};
  ProgressReporter payload;
  ProgressReporter packed;
  WideText new_dat = dir / u"sub\\new.dat";
  WideText tmp = dir / u"sub\\tmp_uncomp.dat";
  WrittenDigest digest;

  // packed_total: the compressed stage's total, the carried size unless given.
  Extraction(int id, bool comp, const char* name, uint64_t packed_total = 0)
      : payload(Expected(name).size() + 1, &named), packed(packed_total ? packed_total : Carried(name).size(), &named) {
    entry.id = id;
    entry.comp = comp;
    entry.payload_progress = &payload;
    entry.packed_progress = &packed;
  }
  int Run() { return ExtractPayload(entry, new_dat, &digest); }
};

TEST(ExtractPayload, PlainPayloadIsCopiedByteForByte) {
  Extraction run(6001, false, "plain");
  ASSERT_EQ(0, run.Run());
  const Bytes expected = Expected("plain");
  EXPECT_TRUE(expected == ReadBytes(run.new_dat));
  EXPECT_FALSE(FileExists(run.tmp));
  EXPECT_EQ(expected.size(), run.payload.done());
  EXPECT_EQ(expected.size(), run.digest.size);
  EXPECT_EQ(crc32(0, expected.data(), static_cast<uInt>(expected.size())), run.digest.crc32);
}

TEST(ExtractPayload, StreamsEndingAtChunkAndBlockBoundariesInflateWhole) {
  for (const auto& [id, name] : {std::pair<int, const char*>{6002, "ends_at_chunk"}, {6003, "exact_output"},
                                 {6008, "trailing_bytes"}}) {
    Extraction run(id, true, name);
    // A leftover from an earlier run is replaced, not appended to.
    CreateDirectoryW(WinText(run.dir / u"sub"), nullptr);
    ASSERT_TRUE(WriteBytes(run.new_dat, Bytes(5000, 0xEE)));
    ASSERT_EQ(0, run.Run()) << name;
    const Bytes expected = Expected(name);
    const Bytes inflated = ReadBytes(run.new_dat);
    EXPECT_EQ(expected.size(), inflated.size()) << name;
    EXPECT_TRUE(expected == inflated) << name;
    EXPECT_FALSE(FileExists(run.tmp)) << name;
    EXPECT_EQ(expected.size(), run.payload.done()) << name;
    EXPECT_EQ(run.packed.total(), run.packed.done()) << name;
    EXPECT_EQ(expected.size(), run.digest.size) << name;
    EXPECT_EQ(crc32(0, expected.data(), static_cast<uInt>(expected.size())), run.digest.crc32) << name;
  }
}

TEST(ExtractPayload, BrokenOrForeignStreamsLeaveNothingBehind) {
  for (const auto& [id, name] : {std::pair<int, const char*>{6004, "wrong_adler"}, {6005, "raw_deflate"},
                                 {6006, "gzip"}, {6007, "truncated"}}) {
    Extraction run(id, true, name);
    EXPECT_EQ(1, run.Run()) << name;
    EXPECT_FALSE(FileExists(run.new_dat)) << name;
    EXPECT_FALSE(FileExists(run.tmp)) << name;
  }
}

TEST(ExtractPayload, PackedProgressStopsAtItsTotal) {
  Extraction run(6003, true, "exact_output", 1000);
  ASSERT_EQ(0, run.Run());
  EXPECT_EQ(1000u, run.packed.done());
}

TEST(ExtractPayload, LeftoverThatCannotBeRemovedFails) {
  Extraction run(6001, false, "plain");
  CreateDirectoryW(WinText(run.dir / u"sub"), nullptr);
  ASSERT_TRUE(WriteBytes(run.new_dat, {1, 2}));
  HANDLE holder = CreateFileW(WinText(run.new_dat), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  EXPECT_EQ(1, run.Run());
  CloseHandle(holder);
  EXPECT_EQ((Bytes{1, 2}), ReadBytes(run.new_dat));
}

TEST(WriteResourceToFile, CreatesTheDirectoryChainAndRefusesAnExistingFile) {
  ScratchDir dir;
  const WideText path = dir / u"a\\b\\c\\payload.bin";
  ASSERT_TRUE(WriteResourceToFile(path, nullptr, 6005));
  EXPECT_EQ(Carried("raw_deflate"), ReadBytes(path));
  EXPECT_FALSE(WriteResourceToFile(path, nullptr, 6001));
  EXPECT_EQ(Carried("raw_deflate"), ReadBytes(path));
}

TEST(InflateFile, EmptyOrMissingInputFails) {
  ScratchDir dir;
  ASSERT_TRUE(WriteBytes(dir / u"empty", {}));
  EXPECT_FALSE(InflateFile(dir / u"empty", dir / u"out", nullptr));
  EXPECT_FALSE(InflateFile(dir / u"missing", dir / u"out2", nullptr));
  EXPECT_FALSE(FileExists(dir / u"out2"));
}

}  // namespace
