#include "tools/cli/summary.h"

#include <cstdio>
#include <map>

#include "tools/cli/json_writer.h"
#include "tools/payload/patch_documents.h"
#include "tools/tree/paths.h"

namespace {

std::string GroupTitle(const AuthoredGroup& g) {
  if (!g.filtered) return "group for everyone (pack " + std::to_string(g.pack_id) + ")";
  return "group \"" + g.name + "\" keyed by " + g.filename + " (pack " + std::to_string(g.pack_id) + ")";
}

uint64_t StoredSize(const AuthoredFile& f) { return f.comp ? f.comp_size : f.diff ? f.diff_size : f.size; }

// Why an update travels as an added entry, from the variants' plans.
std::string WrittenWhole(const BuiltPatch& patch, const AuthoredFile& f) {
  for (const auto& plan : patch.plans) {
    const auto found = plan.changes.find(FoldCase(f.subpath));
    if (found != plan.changes.end() && !found->second.written_whole.empty()) return found->second.written_whole;
  }
  return "";
}

struct Counts {
  size_t files[3] = {};
  uint64_t bytes[3] = {};  // new sizes (old sizes for deleted files)
  uint64_t stored = 0;     // payload bytes
};

Counts CountGroup(const AuthoredGroup& g, const BuiltPatch& patch) {
  Counts c;
  for (const auto& f : g.files) {
    ++c.files[f.kind];
    uint64_t size = f.size;
    if (f.kind == Deleted) {
      for (const auto& plan : patch.plans) {
        const auto found = plan.changes.find(FoldCase(f.subpath));
        if (found != plan.changes.end() && found->second.old_file != nullptr) size = found->second.old_file->size();
      }
    }
    c.bytes[f.kind] += size;
    if (f.kind != Deleted) c.stored += StoredSize(f);
  }
  return c;
}


// What applying each diffed file of group `g` costs: as the first variant
// that selects it applied it.
std::map<std::string, ApplyCost> CostsOf(size_t g, const BuiltPatch& patch, const std::vector<VariantCheck>& checks) {
  std::map<std::string, ApplyCost> costs;
  if (g < patch.selected_by.size() && !patch.selected_by[g].empty() && patch.selected_by[g].front() < checks.size())
    for (const auto& d : checks[patch.selected_by[g].front()].diffs) costs.emplace(FoldCase(d.path), d.cost);
  return costs;
}

// "packs 5002 5004, selected by reading 13.4 MiB of key files (qtr.exe)".
std::string SelectionText(const BuiltPatch& patch, size_t variant) {
  std::string text = "packs";
  for (size_t g : patch.GroupsOf(variant)) text += " " + std::to_string(patch.documents.groups[g].pack_id);
  if (patch.key_reads.empty()) return text;
  std::string keys;
  for (const KeyRead& k : patch.key_reads)
    if (k.bytes[variant] > 0) keys += (keys.empty() ? "" : ", ") + k.key.substr(1);
  return text + ", selected by reading " + SizeText(patch.KeyBytesReadBy(variant)) + " of key files" +
         (keys.empty() ? "" : " (" + keys + ")");
}

void Line(std::string& out, const std::string& text) { out += text + "\n"; }

// The group's counts, then a line per entry (with what applying a diff
// costs) when the options list files.
void GroupLines(size_t index, const BuiltPatch& patch, const std::vector<VariantCheck>& checks,
                const SummaryOptions& options, std::string& out) {
  const AuthoredGroup& g = patch.documents.groups[index];
  const Counts c = CountGroup(g, patch);
  const std::map<std::string, ApplyCost> costs = CostsOf(index, patch, checks);
  std::string counts;
  for (int k = 0; k < 3; ++k)
    if (c.files[k] > 0)
      counts += (counts.empty() ? "" : ", ") + std::to_string(c.files[k]) + " " + KindName(k) + " (" +
                SizeText(c.bytes[k]) + ")";
  Line(out, GroupTitle(g) + ": " + counts + "; payloads " + SizeText(c.stored) + ", required_space " +
                SpaceText(g.RequiredSpace()));
  if (!options.list_files) return;
  for (const auto& f : g.files) {
    std::string text = "  " + KindColumn(f.kind) + f.subpath;
    if (f.kind != Deleted) {
      text += "  " + SizeText(f.size) + ", payload " + std::to_string(f.id) + ": " + (f.diff ? "diff" : "whole") +
              (f.comp ? ", zlib " : ", raw ") + SizeText(StoredSize(f));
      const std::string whole = WrittenWhole(patch, f);
      if (!whole.empty()) text += " (an update written anew: " + whole + ")";
    }
    Line(out, text);
    const auto cost = costs.find(FoldCase(f.subpath));
    if (f.diff && cost != costs.end()) Line(out, "          applying: " + ApplyCostLine(cost->second));
  }
}

// The groups a variant gets and what its patcher reads to select them; what
// the patch leaves alone in it: unchanged files, folders left in place,
// names that keep their old case.
void VariantLines(const Variant& v, const BuiltPatch& patch, size_t index, std::string& out) {
  const VariantPlan& plan = patch.plans[index];
  std::string text = "variant " + v.name + ": " + SelectionText(patch, index) + "; " +
                     std::to_string(plan.unchanged_files) + " files unchanged (" + SizeText(plan.unchanged_bytes) + ")";
  if (!plan.folders_left.empty()) text += "; folders left in place (the patcher removes no folder):";
  Line(out, text);
  for (const auto& folder : plan.folders_left) Line(out, "  " + folder);
  if (!plan.names_kept.empty())
    Line(out, "variant " + v.name + ": " + std::to_string(plan.names_kept.size()) +
                  " unchanged files renamed only in case keep their old names (the patch leaves them alone):");
  for (const auto& [old_name, new_name] : plan.names_kept)
    Line(out, "  " + old_name + " (new tree: " + new_name + ")");
}

// The table of every diff's figures (--stats).
void StatsLines(const std::vector<VariantCheck>& checks, std::string& out) {
  Line(out, "applying each diff, as the patcher's reader meets it (one resident 1 MiB page of the old file):");
  Line(out, "  old pages  page loads   MiB read    copies  copied MiB     seeks  literal KiB   diff KiB  variant, file");
  for (const auto& check : checks)
    for (const auto& d : check.diffs) {
      const ApplyCost& c = d.cost;
      char row[160];
      std::snprintf(row, sizeof row, "%11llu %11llu %10.1f %9llu %11.1f %9llu %12.1f %10.1f  ",
                    static_cast<unsigned long long>(c.old_pages), static_cast<unsigned long long>(c.page_loads),
                    c.page_bytes / 1048576.0, static_cast<unsigned long long>(c.copies),
                    c.copied_bytes / 1048576.0, static_cast<unsigned long long>(c.seeks),
                    c.literal_bytes / 1024.0, c.diff_size / 1024.0);
      Line(out, row + check.name + ", " + d.path);
    }
}

}  // namespace

std::string SummaryText(const std::vector<Variant>& variants, const BuiltPatch& patch,
                        const std::vector<VariantCheck>& checks, const SummaryOptions& options) {
  std::string out;
  for (size_t g = 0; g < patch.documents.groups.size(); ++g) GroupLines(g, patch, checks, options, out);
  for (size_t i = 0; i < variants.size(); ++i) VariantLines(variants[i], patch, i, out);
  if (options.stats) StatsLines(checks, out);
  if (!patch.warnings.empty()) {
    Line(out, "warnings:");
    for (const auto& w : patch.warnings) Line(out, "  " + w);
  }
  return out;
}

std::string SummaryJson(const std::vector<Variant>& variants, const BuiltPatch& patch,
                        const std::vector<VariantCheck>& checks) {
  JsonWriter json;
  json.BeginObject().String("from", patch.documents.header.from).String("to", patch.documents.header.to);
  json.BeginArray("groups");
  for (const auto& g : patch.documents.groups) {
    const Counts c = CountGroup(g, patch);
    json.BeginObject().Number("pack", g.pack_id).Bool("filtered", g.filtered);
    if (g.filtered) json.String("name", g.name).String("key_file", g.filename).String("crc", ChecksumText(g.crc)).String("crc2", ChecksumText(g.crc2));
    json.Number("required_space", g.RequiredSpace()).Number("payload_bytes", c.stored).BeginArray("variants");
    for (size_t v : patch.selected_by[&g - patch.documents.groups.data()]) json.String(variants[v].name);
    json.EndArray();
    for (int k = 0; k < 3; ++k) {
      json.BeginObject(KindName(k)).Number("files", static_cast<uint64_t>(c.files[k])).Number("bytes", c.bytes[k]).EndObject();
    }
    json.BeginArray("entries");
    for (const auto& f : g.files) {
      json.BeginObject().String("kind", KindName(f.kind)).String("path", f.subpath);
      if (f.kind != Deleted) {
        json.Number("size", f.size).String("crc", ChecksumText(f.crc)).Number("payload", f.id)
            .Bool("diff", f.diff).Bool("comp", f.comp).Number("stored_size", StoredSize(f));
        const std::string whole = WrittenWhole(patch, f);
        if (!whole.empty()) json.String("written_whole", whole);
      }
      json.EndObject();
    }
    json.EndArray().EndObject();
  }
  json.EndArray().BeginArray("variants");
  for (size_t i = 0; i < variants.size(); ++i) {
    const VariantPlan& plan = patch.plans[i];
    json.BeginObject().String("name", variants[i].name).Number("unchanged_files", plan.unchanged_files)
        .Number("unchanged_bytes", plan.unchanged_bytes).BeginArray("packs");
    for (size_t g : patch.GroupsOf(i)) json.Number(nullptr, patch.documents.groups[g].pack_id);
    json.EndArray().Number("key_bytes_read", patch.KeyBytesReadBy(i)).BeginArray("folders_left");
    for (const auto& folder : plan.folders_left) json.String(folder);
    json.EndArray().BeginArray("names_kept");
    for (const auto& [old_name, new_name] : plan.names_kept)
      json.BeginObject().String("old", old_name).String("new", new_name).EndObject();
    json.EndArray().BeginArray("diffs");
    if (i < checks.size())
      for (const auto& d : checks[i].diffs)
        json.BeginObject().String("path", d.path).Number("old_pages", d.cost.old_pages)
            .Number("page_loads", d.cost.page_loads).Number("page_bytes", d.cost.page_bytes)
            .Number("copies", d.cost.copies).Number("copied_bytes", d.cost.copied_bytes)
            .Number("seeks", d.cost.seeks).Number("literal_bytes", d.cost.literal_bytes)
            .Number("diff_size", d.cost.diff_size).EndObject();
    json.EndArray().EndObject();
  }
  json.EndArray().BeginArray("key_files");
  for (const KeyRead& k : patch.key_reads) {
    json.BeginObject().String("path", k.key.substr(1)).BeginArray("bytes_read");
    for (uint64_t b : k.bytes) json.Number(nullptr, b);
    json.EndArray().EndObject();
  }
  json.EndArray().BeginArray("warnings");
  for (const auto& w : patch.warnings) json.String(w);
  return json.EndArray().EndObject().Text();
}
