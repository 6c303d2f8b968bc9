// qtr_author: makes a patcher executable from the old and new installation
// trees of one or more variants.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/authoring.h"
#include "tools/authoring_error.h"

namespace {

const char kUsage[] =
    "usage: qtr_author --old DIR --new DIR [--name NAME] [--old DIR --new DIR --name NAME ...]\n"
    "                  --from VERSION --to VERSION --stub STUB.exe --out PATCH.exe [options]\n"
    "\n"
    "Makes a patcher executable that brings an installation from one version to the next.\n"
    "\n"
    "Trees, one pair per variant of the installation (e.g. two editions of the executable):\n"
    "  --old DIR            the installation before patching; starts a new variant\n"
    "  --new DIR            the same variant's installation after patching\n"
    "  --name NAME          the variant's group name (default: variant1, variant2, ...)\n"
    "  --key-file PATH      the file whose checksum tells the variants apart, relative to the\n"
    "                       installation (default: the first changed file that does)\n"
    "\n"
    "Patch:\n"
    "  --from VERSION       the version the installation must have, e.g. 1.00\n"
    "  --to VERSION         the version after patching, written to the registry, e.g. 1.01\n"
    "  --reg-path KEY\\VALUE       installation directory   (default SOFTWARE\\Morrow\\QTR\\InstallDir)\n"
    "  --reg-version KEY\\VALUE    installed version        (default SOFTWARE\\Morrow\\QTR\\Version)\n"
    "  --reg-version2 KEY\\VALUE   uninstall entry version  (default the game's uninstall "
    "entry\\DisplayVersion)\n"
    "  --reg-language KEY\\VALUE   installation language   (default SOFTWARE\\Morrow\\QTR\\Lang)\n"
    "                       registry locations below HKEY_LOCAL_MACHINE; the value name follows the last \\\n"
    "\n"
    "Output:\n"
    "  --stub STUB.exe      a patcher built without patch resources (the qtr_patch_stub target)\n"
    "  --out PATCH.exe      the patcher to write\n"
    "  --out-dir DIR        also write the documents (ID.xml) and payloads (ID.bin) there\n"
    "  --help               this text\n"
    "\n"
    "Every diff and payload is applied to every variant's old tree and checked against its new tree\n"
    "before anything is written; a failed check writes nothing.\n";

struct Arguments {
  struct Trees {
    std::string old_dir, new_dir, name;
  };
  std::vector<Trees> trees;
  std::string from, to, stub, out, out_dir, key_file;
  std::vector<std::pair<std::string, RegValue*>> registry;
};

[[noreturn]] void Usage(const std::string& message) {
  std::fprintf(stderr, "qtr_author: %s\n\n%s", message.c_str(), kUsage);
  std::exit(2);
}

RegValue SplitLocation(const std::string& text) {
  const size_t slash = text.rfind('\\');
  if (slash == std::string::npos || slash == 0 || slash + 1 == text.size())
    Usage("a registry location is KEY\\VALUE: " + text);
  return {text.substr(0, slash), text.substr(slash + 1)};
}

void Run(int argc, char** argv) {
  Arguments a;
  PatchManifest header = DefaultHeader("", "");
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (i + 1 >= argc) Usage("missing value after " + option);
    const std::string value = argv[++i];
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
      a.key_file = value;
    } else if (option == "--reg-path") {
      header.reg_path = SplitLocation(value);
    } else if (option == "--reg-version") {
      header.reg_version = SplitLocation(value);
    } else if (option == "--reg-version2") {
      header.reg_version2 = SplitLocation(value);
    } else if (option == "--reg-language") {
      header.reg_language = SplitLocation(value);
    } else {
      Usage("unknown option " + option);
    }
  }
  if (a.trees.empty()) Usage("no --old and --new trees given");
  for (const auto& t : a.trees)
    if (t.new_dir.empty()) Usage("variant with --old " + t.old_dir + " has no --new");
  if (a.from.empty() || a.to.empty()) Usage("--from and --to are required");
  if (a.stub.empty() || a.out.empty()) Usage("--stub and --out are required");
  header.from = a.from;
  header.to = a.to;

  const Bytes stub = ReadWholeFile(a.stub);
  std::vector<Variant> variants;
  for (size_t i = 0; i < a.trees.size(); ++i) {
    Variant v;
    v.name = a.trees[i].name.empty() ? "variant" + std::to_string(i + 1) : a.trees[i].name;
    v.old_tree = ReadTree(a.trees[i].old_dir);
    v.new_tree = ReadTree(a.trees[i].new_dir);
    variants.push_back(std::move(v));
  }
  const BuiltPatch patch = BuildPatch(variants, header, a.key_file);
  SelfCheck(patch, variants);
  const Bytes image = MakePatchExecutable(stub, patch);

  if (!a.out_dir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(a.out_dir, ec);
    if (ec) throw AuthoringError("cannot create " + a.out_dir);
    std::vector<int> documents = {kFirstResourceId};
    for (const auto& g : patch.documents.groups) documents.push_back(g.pack_id);
    for (const auto& r : patch.resources) {
      const bool xml = std::find(documents.begin(), documents.end(), r.first) != documents.end();
      WriteFileAtomically(a.out_dir + "/" + std::to_string(r.first) + (xml ? ".xml" : ".bin"), r.second);
    }
  }
  WriteFileAtomically(a.out, image);

  for (const auto& g : patch.documents.groups) {
    std::printf("group %s (pack %d): %zu files, required_space %lld\n",
                g.filtered ? ("\"" + g.name + "\" keyed by " + g.filename).c_str() : "for everyone",
                g.pack_id, g.files.size(), static_cast<long long>(g.RequiredSpace()));
    for (const auto& f : g.files) {
      static const char* const kKinds[] = {"added", "updated", "deleted"};
      std::printf("  %-7s %s", kKinds[f.kind], f.subpath.c_str());
      if (f.kind != Deleted)
        std::printf("  id %d, %s%s%llu bytes", f.id, f.diff ? "diff " : "", f.comp ? "zlib " : "",
                    static_cast<unsigned long long>(f.comp   ? f.comp_size
                                                    : f.diff ? f.diff_size
                                                             : f.size));
      std::printf("\n");
    }
  }
  std::printf("self-check passed for %zu variant(s); wrote %s (%zu bytes)\n", variants.size(), a.out.c_str(),
              image.size());
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Run(argc, argv);
    return 0;
  } catch (const AuthoringError& e) {
    std::fprintf(stderr, "qtr_author: %s\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qtr_author: internal failure: %s\n", e.what());
  }
  return 1;
}
