#include "tools/model/installation.h"

#include "tools/tree/paths.h"

std::map<std::string, const TreeFile*> FilesByKey(const FileTree& tree) {
  std::map<std::string, const TreeFile*> files;
  for (const auto& entry : tree.files) files[FoldCase(entry.first)] = &entry.second;
  return files;
}

InstallationModel::InstallationModel(const FileTree& tree) {
  for (const auto& [path, content] : tree.files) Put(path, content);
}

const InstallationModel::File* InstallationModel::Find(const std::string& path) const {
  const auto found = files_.find(FoldCase(path));
  return found == files_.end() ? nullptr : &found->second;
}

void InstallationModel::Put(const std::string& path, TreeFile content) {
  files_[FoldCase(path)] = File{path, std::move(content)};
}

void InstallationModel::Remove(const std::string& path) { files_.erase(FoldCase(path)); }
