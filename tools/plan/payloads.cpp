#include "tools/plan/payloads.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>

#include "tools/common/authoring_error.h"
#include "tools/common/parallel.h"
#include "tools/payload/payload.h"
#include "tools/tree/paths.h"

namespace {

// Fills the entry's sizes and checksums and returns the smallest payload
// that rebuilds the file (see MakePayload). Only this file's old and new
// bytes are mapped meanwhile, and the matcher gives their pages back as it
// goes.
Bytes PayloadOf(AuthoredFile& f, const TreeFile* old_tree_file, const TreeFile& new_tree_file,
                PayloadOptions options) {
  const std::shared_ptr<const FileData> new_bytes = new_tree_file.Load();
  f.size = new_bytes->size();
  std::shared_ptr<const FileData> old_bytes;
  ByteSpan old_span;
  if (f.kind == Updated) {
    old_bytes = old_tree_file->Load();
    f.size_org = old_bytes->size();
    old_span = old_bytes->span();
  }
  // The checksums of a file made on several threads are taken beside the
  // payload's work, which leaves a core idle now and then, rather than
  // before it.
  std::exception_ptr crc_error;
  const auto take_checksums = [&] {
    try {
      f.crc = new_tree_file.Crc();
      if (f.kind == Updated) f.crc_org = old_tree_file->Crc();
    } catch (...) {
      crc_error = std::current_exception();
    }
  };
  std::thread checksums;
  if (options.threads == 1) {
    take_checksums();
  } else {
    checksums = std::thread(take_checksums);
  }
  options.diff.release = [&](bool old, size_t from, size_t to) { (old ? *old_bytes : *new_bytes).Release(from, to); };
  Payload payload;
  try {
    payload = MakePayload(old_bytes ? &old_span : nullptr, new_bytes->span(), options);
  } catch (...) {
    if (checksums.joinable()) checksums.join();
    throw;
  }
  if (checksums.joinable()) checksums.join();
  if (crc_error) std::rethrow_exception(crc_error);
  f.comp = payload.comp;
  f.comp_size = payload.comp ? payload.bytes.size() : 0;
  f.diff = payload.diff;
  f.diff_size = payload.diff_size;
  if (payload.bytes.size() >= kFileSizeLimit) throw AuthoringError("payload of 2 GiB or more for " + f.subpath);
  return std::move(payload.bytes);
}

// Files below this size (old and new together) are made several at once,
// one thread each; larger ones one at a time, each on every thread, so that
// at most one large file is mapped at a time.
constexpr uint64_t kSharedThreadsFrom = uint64_t{4} << 20;

uint64_t JobBytes(const PayloadJob& job) {
  return job.change->new_file->size() + (job.change->kind == Updated ? job.change->old_file->size() : 0);
}

// The payloads as they are made, by job, shared by the threads that make
// them.
struct PayloadWork {
  PayloadWork(const std::vector<PayloadJob>& all, BuiltPatch& built, const BuildOptions& build_options)
      : jobs(all), patch(built), options(build_options), payloads(all.size()), errors(all.size()),
        made(all.size(), 0) {}

  AuthoredFile& File(size_t i) const { return patch.documents.groups[jobs[i].group].files[jobs[i].file]; }
  void Report(size_t i, size_t done) const {
    if (options.progress) options.progress({"payload", jobs[i].change->path, done, jobs.size(), 0, 1});
  }
  // Makes job i's payload on `threads` threads; its stages are reported
  // when `report_stages` (only from the calling thread).
  void Make(size_t i, unsigned threads, bool report_stages);

  const std::vector<PayloadJob>& jobs;
  BuiltPatch& patch;
  const BuildOptions& options;
  std::vector<Bytes> payloads;
  std::vector<std::exception_ptr> errors;
  // The payloads' bytes bound the patch from below: once they exceed what a
  // patcher can load, nothing made after them can help.
  std::atomic<uint64_t> carried{0};
  std::atomic<bool> too_large{false};
  std::vector<char> made;
};

void PayloadWork::Make(size_t i, unsigned threads, bool report_stages) {
  if (too_large) return;
  const PayloadJob& job = jobs[i];
  PayloadOptions payload_options;
  payload_options.effort = options.fast ? Effort::Fast : Effort::Best;
  payload_options.threads = threads;
  if (options.progress && report_stages)
    payload_options.progress = [&](const char* stage, uint64_t done, uint64_t total) {
      options.progress({stage, job.change->path, i + 1, jobs.size(), done, total});
    };
  try {
    payloads[i] = PayloadOf(File(i), job.change->old_file, *job.change->new_file, payload_options);
  } catch (...) {
    errors[i] = std::current_exception();
  }
  made[i] = 1;
  if ((carried += payloads[i].size()) > options.payload_limit) too_large = true;
}

// The small files' payloads, several at once, one thread each.
void MakeSmallPayloads(PayloadWork& work) {
  std::vector<size_t> small;
  for (size_t i = 0; i < work.jobs.size(); ++i)
    if (JobBytes(work.jobs[i]) < kSharedThreadsFrom) small.push_back(i);
  ParallelFor(
      small.size(), work.options.threads, [&](size_t k) { work.Make(small[k], 1, false); },
      [&](size_t done) { work.Report(small[done - 1], done); });
}

// The large files' payloads, one at a time, each on every thread.
void MakeLargePayloads(PayloadWork& work) {
  for (size_t i = 0; i < work.jobs.size() && !work.too_large; ++i) {
    if (JobBytes(work.jobs[i]) < kSharedThreadsFrom) continue;
    work.Report(i, i + 1);
    work.Make(i, work.options.threads, true);
  }
}

[[noreturn]] void RefuseTooLarge(const PayloadWork& work) {
  std::vector<PayloadSize> sizes;
  for (size_t i = 0; i < work.jobs.size(); ++i)
    if (work.made[i]) sizes.push_back({work.jobs[i].change->path, work.payloads[i].size(), work.File(i).diff});
  throw AuthoringError("the payloads of " + std::to_string(sizes.size()) + " of the " +
                       std::to_string(work.jobs.size()) + " files to carry already come to " +
                       SizeText(work.carried) + ", more than the " + SizeText(work.options.payload_limit) +
                       " a patch may carry (a 32-bit process cannot be relied on to load a larger one): split the "
                       "patch; " + LargestPayloads(sizes));
}

}  // namespace

void MakePayloads(const std::vector<PayloadJob>& jobs, BuiltPatch& patch, const BuildOptions& options) {
  PayloadWork work(jobs, patch, options);
  MakeSmallPayloads(work);
  MakeLargePayloads(work);
  if (work.too_large) RefuseTooLarge(work);
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (work.errors[i]) std::rethrow_exception(work.errors[i]);
    patch.resources.push_back({static_cast<uint16_t>(work.File(i).id), std::move(work.payloads[i])});
  }
}

std::string LargestPayloads(std::vector<PayloadSize> payloads, size_t most) {
  std::stable_sort(payloads.begin(), payloads.end(),
                   [](const PayloadSize& a, const PayloadSize& b) { return a.bytes > b.bytes; });
  std::string text = "the largest payloads:";
  for (size_t i = 0; i < payloads.size() && i < most; ++i)
    text += std::string(i ? "," : "") + " " + payloads[i].path + " " + SizeText(payloads[i].bytes) +
            (payloads[i].diff ? " (diff)" : " (whole file)");
  return text;
}
