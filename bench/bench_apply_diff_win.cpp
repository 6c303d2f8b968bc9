// ApplyDiff of a 14 MB file through real files, against a plain copy of a
// file of the same size with the same 1 MiB blocks, measured in the same run;
// and the memory ApplyDiff takes at its peak. Run without a progress
// reporter, so the 1 ms pauses of the display updates are not counted.
#include <windows.h>
#include <psapi.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/diff_streams.h"
#include "diff/apply_diff.h"
#include "diff/diff_decoder.h"
#include "diff/memory_io.h"
#include "files/file_ops.h"
#include "files/win_text_win.h"

namespace {

bool WriteWhole(const WideText& path, const std::vector<uint8_t>& bytes) {
  HANDLE file = CreateFileW(WinText(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD wrote = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
  CloseHandle(file);
  return ok && wrote == bytes.size();
}

// Reads `from` and writes `to` in 1 MiB blocks: what moving the new file's
// bytes costs at the least.
bool PlainCopy(const WideText& from, const WideText& to, std::vector<uint8_t>& block) {
  DeleteFileW(WinText(to));
  HANDLE in = CreateFileW(WinText(from), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE out = CreateFileW(WinText(to), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool ok = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE;
  for (DWORD got = 1; ok && got != 0;) {
    DWORD wrote = 0;
    ok = ReadFile(in, block.data(), static_cast<DWORD>(block.size()), &got, nullptr) &&
         (got == 0 || (WriteFile(out, block.data(), got, &wrote, nullptr) && wrote == got));
  }
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  return ok;
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

size_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  return counters.PrivateUsage;
}

size_t PeakPagefile() {
  PROCESS_MEMORY_COUNTERS counters = {};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PeakPagefileUsage;
}

}  // namespace

// The child's part: ApplyDiff once on the files the parent made, reporting
// the peak commit charge above what the process had before the call.
int MeasureMemory(const WideText& old_path, const WideText& diff_path, const WideText& out_path) {
  const size_t before = PrivateBytes();
  if (!ApplyDiff(out_path, old_path, diff_path, nullptr)) return 1;
  const size_t peak = PeakPagefile();
  std::printf("ApplyDiff peak memory above the process's start: %.2f MiB (its three 1 MiB buffers: 3.00 MiB), "
              "ratio %.2f\n",
              (peak - before) / 1048576.0, (peak - before) / (3.0 * 1048576.0));
  return 0;
}

int main(int argc, char** argv) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const WideText dir = FromWinText(temp);
  const WideText old_path = dir + u"bench_old.bin", diff_path = dir + u"bench_diff.bin",
                 out_path = dir + u"bench_undiff.bin", copy_path = dir + u"bench_copy.bin";
  if (argc > 1 && std::string(argv[1]) == "memory") return MeasureMemory(old_path, diff_path, out_path);
  const std::vector<uint8_t> old_file = bench::Noise(14 << 20, 1);
  // About a quarter of the new file is new bytes, as in the game's update.
  const std::vector<uint8_t> diff = bench::MakeDiff(old_file, 12288, 4096);
  if (!WriteWhole(old_path, old_file) || !WriteWhole(diff_path, diff)) return 1;
  std::printf("old file %.1f MB, diff %.1f MB\n", old_file.size() / 1e6, diff.size() / 1e6);
  std::vector<uint8_t> block(1 << 20);
  PlainCopy(old_path, copy_path, block);  // warm the file cache for both
  ApplyDiff(out_path, old_path, diff_path, nullptr);

  double copy_best = 1e9, apply_best = 1e9;
  for (int run = 0; run < 5; ++run) {
    auto start = std::chrono::steady_clock::now();
    if (!PlainCopy(old_path, copy_path, block)) return 1;
    copy_best = std::min(copy_best, Seconds(start));
    start = std::chrono::steady_clock::now();
    if (!ApplyDiff(out_path, old_path, diff_path, nullptr)) return 1;
    apply_best = std::min(apply_best, Seconds(start));
  }
  std::printf("plain copy %.1f ms, ApplyDiff %.1f ms: ApplyDiff/copy %.2fx\n", copy_best * 1e3, apply_best * 1e3,
              apply_best / copy_best);
  // ApplyDiff also removes a leftover output through the shell first.
  double delete_best = 1e9;
  for (int run = 0; run < 5; ++run) {
    PlainCopy(old_path, copy_path, block);
    const auto start = std::chrono::steady_clock::now();
    DeletePath(copy_path);
    delete_best = std::min(delete_best, Seconds(start));
  }
  // The decoding itself, over memory.
  double memory_best = 1e9;
  for (int run = 0; run < 5; ++run) {
    MemoryWriter writer;
    writer.bytes.reserve(old_file.size());
    MemoryReader old_reader(old_file), diff_reader(diff);
    const auto start = std::chrono::steady_clock::now();
    DecodeDiff(writer, old_reader, diff_reader);
    memory_best = std::min(memory_best, Seconds(start));
  }
  std::printf("of which decoding (over memory): %.1f ms, %.2fx the copy\n", memory_best * 1e3, memory_best / copy_best);
  // And keeping the CRC-32 of everything written, which spares reading the
  // rebuilt file again later.
  double crc_best = 1e9;
  for (int run = 0; run < 5; ++run) {
    const auto start = std::chrono::steady_clock::now();
    volatile uLong crc = crc32(0, old_file.data(), static_cast<uInt>(old_file.size()));
    (void)crc;
    crc_best = std::min(crc_best, Seconds(start));
  }
  std::printf("of which the CRC-32 of the output: %.1f ms; ApplyDiff without it/copy %.2fx\n", crc_best * 1e3,
              (apply_best - crc_best) / copy_best);
  std::printf("of which removing the previous output through the shell: %.1f ms; ApplyDiff without it/copy %.2fx\n",
              delete_best * 1e3, (apply_best - delete_best) / copy_best);

  // Memory, in a fresh process of this program that does nothing else, so
  // that the peak it reports belongs to ApplyDiff alone.
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" memory";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child)) return 1;
  WaitForSingleObject(child.hProcess, INFINITE);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);

  for (const WideText& path : {old_path, diff_path, out_path, copy_path}) DeleteFileW(WinText(path));
  return 0;
}
