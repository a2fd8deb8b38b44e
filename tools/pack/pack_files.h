// The few file-system calls the tool makes, one implementation per system. Paths are UTF-8 on
// every system (Windows takes '/' or '\' between names); names are listed as the system gives
// them, unsorted. A call that fails returns false (or an empty result) and systemErrorText()
// says why.
#pragma once
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The reason the last failed call gave, in the system's words.
std::string systemErrorText();

struct PathStatus {
  bool exists = false;
  bool link = false;  // only from linkStatus
  bool directory = false;
  bool regular = false;
  uint64_t size = 0;
  int64_t modified = 0;  // seconds since 1970
  uint32_t mode = 0;     // the POSIX permission bits (0 on Windows)
};

// The file a path names, through links; exists is false when there is none.
PathStatus pathStatus(const std::string& path);
// The path itself: a link is reported as a link, not as what it points to.
PathStatus linkStatus(const std::string& path);

bool listDirectory(const std::string& path, std::vector<std::string>& names);
// True when the directory was made or a file of that name was already there.
bool createDirectory(const std::string& path);
bool removeFile(const std::string& path);
// Moves from onto to, replacing a file of that name.
bool replaceFile(const std::string& from, const std::string& to);
// The folder that holds the running tool.
bool toolFolder(std::string& folder);

// The command line as UTF-8 words (Windows hands the program its own code page's text).
std::vector<std::string> commandArguments(int argc, char** argv);
// Standard output and error carry the bytes as written: no "\r\n" for "\n" on Windows.
void useBinaryStandardStreams();

gzFile openGzip(const std::string& path, const char* mode);

class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool open(const std::string& path);
  // Of the open file.
  const PathStatus& status() const { return status_; }
  // All n bytes at pos, or false.
  bool readAt(uint64_t pos, void* dst, std::size_t n);
  // The next bytes in order: how many (0 at the end), or -1.
  long long read(void* dst, std::size_t n);
  // Whether path names this very file (not merely equal bytes).
  bool sameFileAs(const std::string& path) const;

 private:
  intptr_t handle_ = -1;
  PathStatus status_;
  uint64_t volume_ = 0, index_ = 0;
  uint64_t position_ = 0;
};

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // A new file of a name no other has: prefix and six characters, which path receives.
  bool createUnique(const std::string& prefix, std::string& path);
  // Creates or truncates the file; refuses a link in its place.
  bool create(const std::string& path);
  bool write(const void* data, std::size_t n);
  // Writes at pos without moving where write() continues.
  bool writeAt(uint64_t pos, const void* data, std::size_t n);
  // Sets the permission bits and waits until the bytes are stored.
  bool sync(uint32_t mode);
  bool close();
  bool isOpen() const { return handle_ != -1; }

 private:
  intptr_t handle_ = -1;
  uint64_t position_ = 0;
};
