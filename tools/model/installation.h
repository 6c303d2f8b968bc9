#pragma once
// An installation as the model's run sees it: its files by name, compared
// as Windows compares names (without case), each with the spelling it was
// last written under.
#include <map>
#include <string>

#include "tools/tree/file_tree.h"

// An installation: its files by FoldCase key.
class InstallationModel {
 public:
  explicit InstallationModel(const FileTree& tree);

  struct File {
    std::string path;  // as last written
    TreeFile content;
  };
  // The file a path names, in any case; null when there is none.
  const File* Find(const std::string& path) const;
  void Put(const std::string& path, TreeFile content);
  void Remove(const std::string& path);
  const std::map<std::string, File>& files() const { return files_; }

 private:
  std::map<std::string, File> files_;
};

// A tree's files by FoldCase key: how the installation finds them.
std::map<std::string, const TreeFile*> FilesByKey(const FileTree& tree);
