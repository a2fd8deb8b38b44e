// A fresh directory for one test, removed with its contents afterwards.
#pragma once
#include <string>
#include <vector>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }  // no trailing backslash
  std::string file(const std::string& name) const { return path_ + "\\" + name; }
  // Names directly inside the directory that begin with prefix.
  std::vector<std::string> namesStartingWith(const std::string& prefix) const;

 private:
  std::string path_;
};

std::string readWholeFile(const std::string& path);
void writeWholeFile(const std::string& path, const std::string& bytes);
