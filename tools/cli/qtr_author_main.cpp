// qtr_author: makes a patcher executable from the old and new installation
// trees of one or more variants, shows what a built one carries, and
// verifies one against installation trees.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tools/cli/default_stub.h"
#include "tools/cli/inspect.h"
#include "tools/cli/summary.h"
#include "tools/cli/terminal.h"
#include "tools/cli/verify.h"
#include "tools/common/authoring_error.h"
#include "tools/image/patch_image.h"
#include "tools/plan/authoring.h"
#include "tools/plan/self_check.h"
#include "tools/tree/paths.h"

namespace fs = std::filesystem;

namespace {

// kSynopsis and kHelp, written by the build from the manual page
// (tools/cli/qtr_author.1.in), which states these figures too.
#include "qtr_author_help.inc"
static_assert(kWindowsPathLimit == 259 && kRoomRequired == 64 && kRoomWarned == 128,
              "the manual page (tools/cli/qtr_author.1.in) states the path limits: change them there too");

// Exit codes: 0 made or ok, 1 refused input or a failed check, 2 a usage
// error (as the manual page says).
[[noreturn]] void Usage(const std::string& message) {
  std::fprintf(stderr, "qtr_author: %s\n\n%s\nqtr_author --help lists every option.\n", message.c_str(), kSynopsis);
  std::exit(2);
}

struct TreePair {
  std::string old_dir, new_dir, name;
};

struct Arguments {
  std::string command;  // "make", "inspect" or "verify"
  std::string patch;    // inspect, verify
  std::vector<TreePair> trees;
  std::string from, to, stub, out, out_dir;
  std::vector<std::string> key_files;
  unsigned threads = 0;
  bool fast = false, stats = false, json = false, quiet = false, follow_links = false, version = false;
};

RegValue SplitLocation(const std::string& text) {
  const size_t slash = text.rfind('\\');
  if (slash == std::string::npos || slash == 0 || slash + 1 == text.size())
    Usage("a registry location is KEY\\VALUE: " + text);
  return {text.substr(0, slash), text.substr(slash + 1)};
}

const std::vector<std::string> kValueOptions = {"--old",  "--new",         "--name",        "--key-file",
                                                "--from", "--to",          "--stub",        "--out",
                                                "--out-dir", "--reg-path", "--reg-version", "--reg-version2",
                                                "--reg-language", "--threads"};
const std::vector<std::string> kFlags = {"--fast", "--stats", "--json", "--quiet", "--follow-links", "--version"};

bool Known(const std::vector<std::string>& list, const std::string& option) {
  return std::find(list.begin(), list.end(), option) != list.end();
}

// Takes the value of a value option (one of kValueOptions).
void SetValue(Arguments& a, PatchManifest& header, const std::string& option, const std::string& value) {
  if (option == "--old") {
    a.trees.push_back({value, "", ""});
  } else if (option == "--new" || option == "--name") {
    if (a.trees.empty()) Usage(option + " comes after the --old of its variant");
    std::string& field = option == "--new" ? a.trees.back().new_dir : a.trees.back().name;
    if (!field.empty()) Usage(option + " given twice for one variant");
    field = value;
  } else if (option == "--from") {
    a.from = value;
  } else if (option == "--to") {
    a.to = value;
  } else if (option == "--stub") {
    a.stub = value;
  } else if (option == "--out") {
    a.out = value;
  } else if (option == "--out-dir") {
    a.out_dir = value;
  } else if (option == "--key-file") {
    a.key_files.push_back(value);
  } else if (option == "--threads") {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (value.empty() || value.size() > 4 || !std::all_of(value.begin(), value.end(), digit) || std::stoi(value) < 1)
      Usage("--threads takes a number of threads from 1 to 9999: " + value);
    a.threads = static_cast<unsigned>(std::stoi(value));
  } else if (option == "--reg-path") {
    header.reg_path = SplitLocation(value);
  } else if (option == "--reg-version") {
    header.reg_version = SplitLocation(value);
  } else if (option == "--reg-version2") {
    header.reg_version2 = SplitLocation(value);
  } else {
    header.reg_language = SplitLocation(value);
  }
}

Arguments Parse(const std::vector<std::string>& args, PatchManifest& header) {
  Arguments a;
  size_t i = 0;
  a.command = "make";
  if (!args.empty() && (args[0] == "inspect" || args[0] == "verify")) {
    a.command = args[0];
    if (args.size() < 2 || args[1].rfind("--", 0) == 0) Usage(a.command + " needs the patch executable first");
    a.patch = args[1];
    i = 2;
  }
  for (; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--help" || option == "-h") {
      std::fputs(kHelp, stdout);
      std::exit(0);
    }
    if (Known(kFlags, option)) {
      bool& flag = option == "--fast"      ? a.fast
                   : option == "--stats"   ? a.stats
                   : option == "--json"    ? a.json
                   : option == "--quiet"   ? a.quiet
                   : option == "--version" ? a.version
                                           : a.follow_links;
      flag = true;
      continue;
    }
    if (!Known(kValueOptions, option)) {
      if (option.rfind("-", 0) == 0) Usage("unknown option " + option);
      Usage("unexpected argument " + option + " (options come as --name VALUE)");
    }
    if (i + 1 >= args.size()) Usage("missing value after " + option);
    SetValue(a, header, option, args[++i]);
  }
  return a;
}

// Whether a file name is one this tool writes into an --out-dir: a resource
// number and ".xml" or ".bin".
bool IsOwnOutputName(const std::string& name) {
  const size_t dot = name.find('.');
  if (dot == 0 || dot == std::string::npos) return false;
  for (size_t i = 0; i < dot; ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  const std::string extension = name.substr(dot);
  return extension == ".xml" || extension == ".bin";
}

// Whether `inner` is `outer` or lies below it, links resolved.
bool Within(const std::string& inner, const std::string& outer) {
  auto resolved = [](const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(fs::u8path(path)), ec).lexically_normal();
    return p.has_filename() ? p : p.parent_path();  // "dir/" as "dir"
  };
  const fs::path in = resolved(inner), out = resolved(outer);
  return std::mismatch(out.begin(), out.end(), in.begin(), in.end()).first == out.end();
}

// Refuses an output inside an installation tree (it would overwrite the
// tree's files, and the next patch made from the tree would carry it), an
// --out that is the stub (the patch would take its place), an --out that is
// not a regular file, and an --out-dir that holds anything but
// this tool's own earlier output, which is cleared.
void PrepareOutputs(const Arguments& a) {
  for (const auto& t : a.trees)
    for (const std::string* tree : {&t.old_dir, &t.new_dir})
      for (const auto& [option, output] : {std::pair<const char*, const std::string*>{"--out", &a.out},
                                           {"--out-dir", &a.out_dir}})
        if (!output->empty() && Within(*output, *tree))
          throw AuthoringError(std::string(option) + " " + *output + " lies in the installation tree " + *tree +
                               "; write it outside the trees");
  std::error_code ec;
  if (fs::equivalent(fs::u8path(a.out), fs::u8path(a.stub), ec))
    throw AuthoringError("--out " + a.out + " is the stub " + a.stub + ", which the patch would replace; name another file");
  const fs::file_status out = fs::symlink_status(fs::u8path(a.out), ec);
  if (fs::exists(out) && !fs::is_regular_file(out))
    throw AuthoringError("--out " + a.out + " exists and is not a regular file; name a new file or an old patch");
  if (a.out_dir.empty()) return;
  const fs::path dir = fs::u8path(a.out_dir);
  const fs::file_status status = fs::symlink_status(dir, ec);
  if (!fs::exists(status)) return;
  if (!fs::is_directory(status)) throw AuthoringError("--out-dir " + a.out_dir + " exists and is not a folder");
  std::vector<fs::path> own;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().u8string();
    if (!entry.is_regular_file(ec) || !IsOwnOutputName(name))
      throw AuthoringError("--out-dir " + a.out_dir + " holds " + name +
                           ", which this tool did not write; give a new or empty folder");
    own.push_back(entry.path());
  }
  for (const auto& path : own) fs::remove(path, ec);
}

void WriteOutDir(const std::string& dir, const BuiltPatch& patch) {
  std::error_code ec;
  fs::create_directories(fs::u8path(dir), ec);
  if (ec) throw AuthoringError("cannot create " + dir + ": " + ec.message());
  std::vector<int> documents = {kFirstResourceId};
  for (const auto& g : patch.documents.groups) documents.push_back(g.pack_id);
  for (const auto& r : patch.resources) {
    const bool xml = std::find(documents.begin(), documents.end(), r.first) != documents.end();
    WriteFileAtomically(dir + "/" + std::to_string(r.first) + (xml ? ".xml" : ".bin"), r.second);
  }
}

// Reads a tree, the status line counting its files.
FileTree ReadTreeShown(const std::string& dir, const ReadTreeOptions& options, Progress& progress) {
  progress.Show("reading " + dir);
  return ReadTree(dir, options,
                  [&](size_t files) { progress.Show("reading " + dir + ": " + std::to_string(files) + " files"); });
}

// "[2/3] comparing /data/a.pak 41%": the file's place among the stage's, and
// how far the stage is (by bytes where it counts them, else by files).
std::string StatusOf(const BuildProgress& p) {
  const uint64_t percent = p.total > 1 ? p.done * 100 / p.total : p.count > 0 ? p.index * 100 / p.count : 0;
  return "[" + std::to_string(p.index) + "/" + std::to_string(p.count) + "] " + p.stage +
         (p.path.empty() ? "" : " " + p.path) + " " + std::to_string(percent) + "%";
}

// "version 1.0.0, i686".
std::string StubText(const StubPatcher& stub) {
  return (stub.version.empty() ? "no version recorded" : "version " + stub.version) + ", " + stub.machine;
}

// --version: this program's version, and the stub patcher it would make a
// patch from (--stub, or the one beside it). Exit code 1 when that stub is
// missing or is no stub patcher.
int Version(const Arguments& a) {
  std::printf("qtr_author %s\n", QTR_VERSION);
  try {
    const std::string path = a.stub.empty() ? FindDefaultStub() : a.stub;
    std::printf("stub patcher %s (%s)\n", path.c_str(), StubText(CheckStubPatcher(ReadWholeFile(path))).c_str());
  } catch (const AuthoringError& e) {
    std::fprintf(stderr, "qtr_author: %s\n", e.what());
    return 1;
  }
  return 0;
}

int Make(Arguments a, PatchManifest header) {
  if (a.trees.empty()) Usage("no --old and --new trees given");
  for (const auto& t : a.trees)
    if (t.new_dir.empty()) Usage("variant with --old " + t.old_dir + " has no --new");
  if (a.from.empty() || a.to.empty()) Usage("--from and --to are required");
  if (a.out.empty()) Usage("--out is required");
  header.from = a.from;
  header.to = a.to;
  CheckVersions(a.from, a.to);
  const bool default_stub = a.stub.empty();
  if (default_stub) a.stub = FindDefaultStub();
  PrepareOutputs(a);
  const Bytes stub = ReadWholeFile(a.stub);
  const StubPatcher stub_patcher = CheckStubPatcher(stub);

  Progress progress(!a.quiet && IsTerminal(stderr));
  std::vector<Variant> variants;
  for (size_t i = 0; i < a.trees.size(); ++i) {
    Variant v;
    v.name = a.trees[i].name.empty() ? "variant" + std::to_string(i + 1) : a.trees[i].name;
    v.old_tree = ReadTreeShown(a.trees[i].old_dir, {a.follow_links}, progress);
    v.new_tree = ReadTreeShown(a.trees[i].new_dir, {a.follow_links}, progress);
    variants.push_back(std::move(v));
  }
  BuildOptions options;
  options.key_files = a.key_files;
  options.fast = a.fast;
  options.threads = a.threads;
  options.progress = [&progress](const BuildProgress& p) { progress.Show(StatusOf(p)); };
  progress.Show("comparing the trees");
  const BuiltPatch patch = BuildPatch(variants, header, options);
  progress.Show("self-check: applying the patch to every variant");
  const std::vector<VariantCheck> checks = SelfCheck(patch, variants, options.progress);
  const Bytes image = MakePatchExecutable(stub, patch);
  progress.Done();

  if (!a.out_dir.empty()) WriteOutDir(a.out_dir, patch);
  WriteFileAtomically(a.out, image);

  if (a.json) {
    std::fputs(SummaryJson(variants, patch, checks).c_str(), stdout);
  } else if (a.quiet) {
    for (const auto& w : patch.warnings) std::fprintf(stderr, "qtr_author: warning: %s\n", w.c_str());
  } else {
    SummaryOptions summary;
    summary.stats = a.stats;
    std::fputs(SummaryText(variants, patch, checks, summary).c_str(), stdout);
    std::printf("stub patcher %s (%s)%s\n", a.stub.c_str(), StubText(stub_patcher).c_str(),
                default_stub ? ", the one beside qtr_author" : "");
    std::printf("self-check passed for %zu variant(s); wrote %s (%zu bytes)\n", variants.size(), a.out.c_str(),
                image.size());
  }
  return 0;
}

PatchResources LoadPatch(const std::string& path) { return ReadPatchResources(ReadWholeFile(path), path); }

int Inspect(const Arguments& a) {
  if (!a.trees.empty() || !a.out.empty() || !a.stub.empty()) Usage("inspect takes the patch executable only");
  const PatchResources resources = LoadPatch(a.patch);
  const PatchContents contents = ReadPatchContents(resources);
  std::fputs((a.json ? InspectJson(contents, resources) : InspectText(contents, resources)).c_str(), stdout);
  return 0;
}

int Verify(const Arguments& a) {
  if (a.trees.empty()) Usage("verify needs at least one --old tree");
  const PatchResources resources = LoadPatch(a.patch);
  ReadPatchContents(resources);  // a main manifest the patcher cannot read is refused here
  Progress progress(!a.quiet && IsTerminal(stderr));
  std::vector<Edition> editions;
  for (const auto& t : a.trees) {
    Edition e;
    e.name = t.name;
    e.old_dir = t.old_dir;
    e.new_dir = t.new_dir;
    e.old_tree = ReadTreeShown(t.old_dir, {a.follow_links, true}, progress);
    if (!t.new_dir.empty()) e.new_tree = ReadTreeShown(t.new_dir, {a.follow_links}, progress);
    editions.push_back(std::move(e));
  }
  progress.Show("applying the patch");
  const std::vector<EditionResult> results =
      VerifyPatch(resources, editions, [&](size_t edition, const std::string& path, uint64_t done, uint64_t total) {
        progress.Show(StatusOf({"applying the patch", path, edition, editions.size(), done, total}));
      });
  progress.Done();
  std::fputs((a.json ? VerifyJson(editions, results) : VerifyText(editions, results)).c_str(), stdout);
  return std::all_of(results.begin(), results.end(), [](const EditionResult& r) { return r.ok(); }) ? 0 : 1;
}

int Run(const std::vector<std::string>& args) {
  PatchManifest header = DefaultHeader("", "");
  const Arguments a = Parse(args, header);
  if (a.version) return Version(a);
  if (a.command == "inspect") return Inspect(a);
  if (a.command == "verify") return Verify(a);
  return Make(a, header);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(CommandLineArguments(argc, argv));
  } catch (const AuthoringError& e) {
    std::fprintf(stderr, "qtr_author: %s\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qtr_author: internal failure: %s\n", e.what());
  }
  return 1;
}
