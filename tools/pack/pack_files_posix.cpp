#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pack/pack_files.h"

namespace {

PathStatus statusFrom(const struct stat& st) {
  PathStatus status;
  status.exists = true;
  status.link = S_ISLNK(st.st_mode);
  status.directory = S_ISDIR(st.st_mode);
  status.regular = S_ISREG(st.st_mode);
  status.size = static_cast<uint64_t>(st.st_size);
  status.modified = static_cast<int64_t>(st.st_mtime);
  status.mode = static_cast<uint32_t>(st.st_mode & 07777);
  return status;
}

}  // namespace

std::string systemErrorText() { return std::strerror(errno); }

PathStatus pathStatus(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? statusFrom(st) : PathStatus();
}

PathStatus linkStatus(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? statusFrom(st) : PathStatus();
}

bool listDirectory(const std::string& path, std::vector<std::string>& names) {
  DIR* listing = ::opendir(path.c_str());
  if (!listing) return false;
  while (dirent* entry = ::readdir(listing)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(listing);
  return true;
}

bool createDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST; }

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool replaceFile(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool toolFolder(std::string& folder) {
  std::vector<char> path(4096);
  ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return false;
  std::string self(path.data(), static_cast<std::size_t>(n));
  folder = self.substr(0, self.rfind('/'));
  return true;
}

std::vector<std::string> commandArguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void useBinaryStandardStreams() {}

gzFile openGzip(const std::string& path, const char* mode) { return gzopen(path.c_str(), mode); }

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool InputFile::open(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  handle_ = fd;
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  status_ = statusFrom(st);
  volume_ = static_cast<uint64_t>(st.st_dev);
  index_ = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool InputFile::readAt(uint64_t pos, void* dst, std::size_t n) {
  auto* out = static_cast<uint8_t*>(dst);
  while (n > 0) {
    ssize_t got = ::pread(static_cast<int>(handle_), out, n, static_cast<off_t>(pos));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    out += got;
    pos += static_cast<uint64_t>(got);
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

long long InputFile::read(void* dst, std::size_t n) {
  for (;;) {
    ssize_t got = ::read(static_cast<int>(handle_), dst, n);
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

bool InputFile::sameFileAs(const std::string& path) const {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_dev) == volume_ &&
         static_cast<uint64_t>(st.st_ino) == index_;
}

OutputFile::~OutputFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool OutputFile::createUnique(const std::string& prefix, std::string& path) {
  std::vector<char> name(prefix.begin(), prefix.end());
  name.insert(name.end(), {'X', 'X', 'X', 'X', 'X', 'X', '\0'});
  int fd = ::mkstemp(name.data());
  if (fd < 0) return false;
  handle_ = fd;
  path = name.data();
  return true;
}

bool OutputFile::create(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

bool OutputFile::write(const void* data, std::size_t n) {
  const auto* in = static_cast<const uint8_t*>(data);
  while (n > 0) {
    ssize_t put = ::write(static_cast<int>(handle_), in, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    in += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

bool OutputFile::writeAt(uint64_t pos, const void* data, std::size_t n) {
  return ::pwrite(static_cast<int>(handle_), data, n, static_cast<off_t>(pos)) == static_cast<ssize_t>(n);
}

bool OutputFile::sync(uint32_t mode) {
  return ::fchmod(static_cast<int>(handle_), mode & 07777) == 0 && ::fsync(static_cast<int>(handle_)) == 0;
}

bool OutputFile::close() {
  int fd = static_cast<int>(handle_);
  handle_ = -1;
  return ::close(fd) == 0;
}
