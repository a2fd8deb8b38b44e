// Hostile runtime archives: the walk must end, never read out of bounds, never write a path that
// leaves the target, and never write more bytes than the archive holds. The first block is also
// decoded as a lone header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/tar_archive.h"

namespace {

class BytesInput : public TarInput {
 public:
  BytesInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int read(void* dst, unsigned n) override {
    size_t take = n < size_ - pos_ ? n : size_ - pos_;
    if (take > 4096) take = 4096;
    std::memcpy(dst, data_ + pos_, take);
    pos_ += take;
    return static_cast<int>(take);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

void checkContained(const std::string& path) {
  if (!path.empty() && (path[0] == '\\' || path[0] == '/')) std::abort();
  if (path.find(':') != std::string::npos || path.find('/') != std::string::npos) std::abort();
  if (path == ".." || path.rfind("..\\", 0) == 0 || path.find("\\..\\") != std::string::npos ||
      (path.size() >= 3 && path.compare(path.size() - 3, 3, "\\..") == 0)) {
    std::abort();
  }
}

class CheckingOutput : public TarOutput {
 public:
  void info(const std::string&) override {}
  void error(const std::string&) override {}
  void createDirectory(const std::string& path) override { checkContained(path); }
  bool openFile(const std::string& path) override {
    checkContained(path);
    if (open_) std::abort();
    open_ = true;
    return true;
  }
  bool writeFile(const void*, std::size_t n) override {
    if (!open_) std::abort();
    written += n;
    return true;
  }
  bool closeFile(bool) override {
    if (!open_) std::abort();
    open_ = false;
    return true;
  }
  void progress(uint64_t bytesRead, bool) override {
    if (bytesRead > total) std::abort();
    int position = untarProgressPosition(bytesRead, total);
    if (position < 100 || position > 200) std::abort();
  }
  uint64_t total = 0;
  size_t written = 0;

 private:
  bool open_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= kTarBlockSize) {
    TarHeader header = parseTarHeader(data);
    if (header.name.size() > kTarNameLength) std::abort();
    if (std::optional<std::string> path = tarEntryPath(header.name)) checkContained(*path);
  }
  BytesInput input(data, size);
  CheckingOutput output;
  output.total = size;
  untarStream(input, output);
  if (output.written > size) std::abort();
  return 0;
}
