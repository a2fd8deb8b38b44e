// pathmere-pack: writes the launcher's appended data onto a stub, and inspects, verifies and
// unpacks finished installers. Payloads can be far larger than memory is worth spending on them,
// so every file is streamed in blocks.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "media/launcher_config.h"
#include "media/media_format.h"
#include "runtime/download_transfer.h"
#include "pack/pack_config.h"
#include "pack/pack_digest.h"
#include "pack/pack_media.h"
#include "pack/pack_runtime.h"

namespace {
using Json = nlohmann::ordered_json;
constexpr std::size_t kBlockSize = 1 << 20;

std::string systemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

class FileSource : public ByteSource {
 public:
  explicit FileSource(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw PackError(systemError("cannot open", path));
    struct stat st;
    if (::fstat(fd_, &st) != 0) throw PackError(systemError("cannot stat", path));
    if (!S_ISREG(st.st_mode)) throw PackError(path + " is not a regular file");
    size_ = static_cast<uint64_t>(st.st_size);
    mode_ = st.st_mode;
    device_ = st.st_dev;
    inode_ = st.st_ino;
  }
  ~FileSource() override { ::close(fd_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  uint64_t size() const override { return size_; }
  bool readAt(uint64_t pos, void* dst, std::size_t n) override {
    auto* out = static_cast<uint8_t*>(dst);
    while (n > 0) {
      ssize_t got = ::pread(fd_, out, n, static_cast<off_t>(pos));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      out += got;
      pos += static_cast<uint64_t>(got);
      n -= static_cast<std::size_t>(got);
    }
    return true;
  }
  mode_t mode() const { return mode_; }
  bool sameFileAs(const std::string& other) const {
    struct stat st;
    return ::stat(other.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  uint64_t size_ = 0;
  mode_t mode_ = 0;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

// The output is written beside its final name and renamed into place only when complete, so a
// refusal or a crash never leaves a half-written installer under the requested name.
class PendingOutput : public ByteSink {
 public:
  explicit PendingOutput(const std::string& finalPath) : finalPath_(finalPath) {
    std::size_t slash = finalPath.rfind('/');
    std::string dir = slash == std::string::npos ? "." : finalPath.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
    if (base.empty()) throw PackError("output path " + finalPath + " names a directory");
    std::string pattern = (slash == std::string::npos ? "" : dir) + "." + base + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = ::mkstemp(name.data());
    if (fd_ < 0) throw PackError(systemError("cannot create a temporary file in", dir));
    tempPath_ = name.data();
  }
  ~PendingOutput() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(tempPath_.c_str());
  }
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  void write(const void* data, std::size_t n) override {
    const auto* in = static_cast<const uint8_t*>(data);
    while (n > 0) {
      ssize_t put = ::write(fd_, in, n);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) throw PackError(systemError("cannot write", tempPath_));
      in += put;
      n -= static_cast<std::size_t>(put);
    }
  }
  void writeAt(uint64_t pos, const std::string& bytes) override {
    if (::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(pos)) != static_cast<ssize_t>(bytes.size())) {
      throw PackError(systemError("cannot write", tempPath_));
    }
  }
  void commit(mode_t mode) {
    if (::fchmod(fd_, mode & 07777) != 0 || ::fsync(fd_) != 0) throw PackError(systemError("cannot finish", tempPath_));
    if (::close(fd_) != 0) {
      fd_ = -1;
      throw PackError(systemError("cannot finish", tempPath_));
    }
    fd_ = -1;
    if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) throw PackError(systemError("cannot rename to", finalPath_));
    committed_ = true;
  }

 private:
  std::string finalPath_;
  std::string tempPath_;
  int fd_ = -1;
  bool committed_ = false;
};

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PackError(systemError("cannot open", path));
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string hostPath(const std::string& dir, const std::string& name) {
  std::string path = dir + "/" + name;
  for (std::size_t i = dir.size() + 1; i < path.size(); ++i) {
    if (path[i] == '\\') path[i] = '/';
  }
  return path;
}

int usage() {
  std::cerr << "usage:\n"
               "  pathmere-pack build --stub STUB.exe --config CONFIG.json --files DIR [--java-data FILE]\n"
               "                      [--jre DIR|ARCHIVE.tar.gz] [--jre-download ARCHIVE] [--no-checksum]\n"
               "                      [--unchecked-names] -o OUT.exe\n"
               "  pathmere-pack inspect FILE [--json]\n"
               "  pathmere-pack verify FILE\n"
               "  pathmere-pack extract FILE DIR\n";
  return 2;
}

// A scratch file beside the output, removed when done.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& besidePath) {
    std::size_t slash = besidePath.rfind('/');
    std::string pattern = (slash == std::string::npos ? std::string() : besidePath.substr(0, slash + 1)) + ".jre.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) throw PackError(systemError("cannot create a temporary file for", besidePath));
    ::close(fd);
    path_ = name.data();
  }
  ~ScratchFile() { ::unlink(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

int buildCommand(const std::vector<std::string>& args) {
  std::string stubPath, configPath, filesDir, javaDataPath, outPath, jrePath, downloadArchive;
  bool checksum = true;
  PackConfigOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) throw PackError(arg + " needs a value");
      into = args[++i];
    };
    if (arg == "--stub") value(stubPath);
    else if (arg == "--config") value(configPath);
    else if (arg == "--files") value(filesDir);
    else if (arg == "--java-data") value(javaDataPath);
    else if (arg == "--jre") value(jrePath);
    else if (arg == "--jre-download") value(downloadArchive);
    else if (arg == "-o" || arg == "--output") value(outPath);
    else if (arg == "--no-checksum") checksum = false;
    else if (arg == "--unchecked-names") options.uncheckedNames = true;
    else throw PackError("unknown option " + arg);
  }
  if (stubPath.empty() || configPath.empty() || filesDir.empty() || outPath.empty()) {
    throw PackError("build needs --stub, --config, --files and -o");
  }

  std::string configText = readWholeFile(configPath);
  std::unique_ptr<ScratchFile> runtimeScratch;
  std::string runtimeArchivePath;
  std::vector<std::string> runtimeWarnings;
  if (!jrePath.empty()) {
    RuntimeArchive runtime;
    if (isDirectory(jrePath)) {
      runtimeScratch = std::make_unique<ScratchFile>(outPath);
      runtimeArchivePath = runtimeScratch->path();
      runtime = writeRuntimeArchive(jrePath, runtimeArchivePath);
    } else {
      runtimeArchivePath = jrePath;
      runtime = checkRuntimeArchive(jrePath);
    }
    configText = addCarriedRuntime(configText, runtime, runtimeWarnings);
    std::printf("runtime %s: %" PRIu64 " files, %" PRIu64 " bytes uncompressed%s\n", jrePath.c_str(), runtime.fileCount,
                runtime.uncompressedSize, runtime.packed ? ", packed" : "");
  }
  PackConfig config = parsePackConfig(configText, options);
  config.warnings.insert(config.warnings.end(), runtimeWarnings.begin(), runtimeWarnings.end());
  for (const std::string& warning : config.warnings) std::cerr << "pathmere-pack: warning: " << warning << "\n";
  // The archive the server will serve: the launcher refuses a download with another digest.
  if (!downloadArchive.empty()) setRuntimeDigest(config.record, fileSha256Hex(downloadArchive));

  FileSource stub(stubPath);
  PeLayout layout;
  std::string problem = stubProblem(stub, layout);
  if (!problem.empty()) throw PackError("stub " + stubPath + " " + problem);

  if (!isDirectory(filesDir)) throw PackError("files directory " + filesDir + " does not exist");
  std::vector<std::unique_ptr<FileSource>> files;
  for (const std::string& name : config.files) {
    bool carried = !runtimeArchivePath.empty() && name == kRuntimeArchiveName;
    std::string path = carried ? runtimeArchivePath : hostPath(filesDir, name);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) throw PackError("included file \"" + name + "\" not found: " + path);
    files.push_back(std::make_unique<FileSource>(path));
  }
  // The launcher tells the Java side where its data begins only when it extracted files; with
  // none it hands on position 0 and the data cannot be found.
  if (!javaDataPath.empty() && config.files.empty()) {
    throw PackError("--java-data needs at least one included file: without files the launcher does not tell the "
                    "Java side where its data begins");
  }
  std::unique_ptr<FileSource> javaData;
  if (!javaDataPath.empty()) javaData = std::make_unique<FileSource>(javaDataPath);
  for (const FileSource* input : {&stub, javaData.get()}) {
    if (input && input->sameFileAs(outPath)) throw PackError("output " + outPath + " would overwrite input " + input->path());
  }
  for (const auto& input : files) {
    if (input->sameFileAs(outPath)) throw PackError("output " + outPath + " would overwrite input " + input->path());
  }

  MediaInputs inputs;
  inputs.stub = &stub;
  inputs.fileAlignment = layout.fileAlignment;
  inputs.record = encodeConfigRecord(config.record);
  for (const auto& file : files) inputs.files.push_back(file.get());
  inputs.javaData = javaData.get();
  inputs.checksum = checksum;
  PendingOutput out(outPath);
  WrittenMedia written = writeMedia(inputs, out);
  out.commit(stub.mode() | 0111);
  const MediaPlan& plan = written.plan;
  const MediaHeader& header = written.header;

  char summary[256];
  std::snprintf(summary, sizeof summary,
                "wrote %s: %zu files, checked length %" PRId64 ", checksum 0x%08X%s, %" PRIu64 " padding bytes\n",
                outPath.c_str(), files.size(), plan.checkedLength, static_cast<unsigned>(header.storedChecksum),
                checksum ? "" : " (not verified: --no-checksum)", plan.padding);
  std::cout << summary;
  return 0;
}

std::string quoted(const std::string& utf8) { return Json(utf8).dump(); }

// What the launcher will make of a carried runtime: entry 151 scales its progress bar, entry
// 153 makes it unpack the pack200 archives.
struct CarriedRuntimeView {
  bool carried = false;
  int64_t archiveSize = 0;
  int uncompressedSize = 0;
  bool packed = false;
};

CarriedRuntimeView carriedRuntime(const MediaInspection& info) {
  CarriedRuntimeView view;
  for (const IncludedFileEntry& file : info.files) {
    std::string lower = file.name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == kRuntimeArchiveName) {
      view.carried = true;
      view.archiveSize = file.size;
    }
  }
  const std::string* size = lastNarrowValue(info.record, 151);
  const std::string* packed = lastNarrowValue(info.record, 153);
  view.uncompressedSize = size ? parseConfigInt(*size) : 0;
  view.packed = packed && parseConfigInt(*packed) != 0;
  return view;
}

Json inspectionJson(const MediaInspection& info) {
  Json out;
  out["fileSize"] = info.fileSize;
  out["pe"] = {{"sections", info.pe.sectionCount},
               {"optionalHeaderSize", info.pe.optionalHeaderSize},
               {"lastSectionEntry", info.pe.lastSectionEntry},
               {"lastRawPointer", info.pe.lastRawPointer},
               {"lastRawSize", info.pe.lastRawSize},
               {"fileAlignment", info.pe.fileAlignment}};
  out["signature"] = {{"signed", info.signature.present}};
  if (info.signature.present) {
    out["signature"]["offset"] = info.signature.offset;
    out["signature"]["size"] = info.signature.size;
  }
  out["appendedStart"] = info.appendedStart;
  out["header"] = {{"magic", info.header.magic},
                   {"magicOk", info.header.magic == kMediaMagic},
                   {"checksumFlag", info.header.checksumFlag},
                   {"storedChecksum", info.header.storedChecksum},
                   {"checkedLength", info.header.checkedLength}};
  auto wideList = [](const std::vector<std::pair<int32_t, std::u16string>>& entries) {
    Json list = Json::array();
    for (const auto& [id, value] : entries) list.push_back({{"id", id}, {"value", utf16ToUtf8(value)}});
    return list;
  };
  if (info.recordRead) {
    Json narrow = Json::array();
    for (const auto& [id, value] : info.record.narrow) narrow.push_back({{"id", id}, {"value", ansiToUtf8(value)}});
    out["narrow"] = narrow;
    for (const auto& [id, value] : info.record.narrow) {
      if (id == kRuntimeDigestEntry) out["runtimeDigest"] = ansiToUtf8(value);
    }
    out["wide"] = wideList(info.record.wide);
    Json languages = Json::array();
    for (const LanguageGroup& group : info.record.languages) {
      languages.push_back({{"code", ansiToUtf8(group.code)}, {"wide", wideList(group.wide)}});
    }
    out["languages"] = languages;
    out["configEnd"] = info.configEnd;
    out["fileCount"] = info.fileCount;
    Json files = Json::array();
    for (const IncludedFileEntry& file : info.files) {
      files.push_back({{"name", ansiToUtf8(file.name)},
                       {"sizeOffset", file.sizeOffset},
                       {"dataOffset", file.sizeOffset + 8},
                       {"size", file.size}});
    }
    out["files"] = files;
    CarriedRuntimeView runtime = carriedRuntime(info);
    out["runtime"] = {{"carried", runtime.carried}};
    if (runtime.carried) {
      out["runtime"]["archiveSize"] = runtime.archiveSize;
      out["runtime"]["uncompressedSize"] = runtime.uncompressedSize;
      out["runtime"]["packed"] = runtime.packed;
    }
  }
  if (info.filesWalked) {
    out["javaData"] = {{"offset", info.javaDataOffset},
                       {"size", info.checkedLengthValid ? Json(info.javaDataSize) : Json(nullptr)}};
    out["unextractedPosition"] = info.unextractedPosition;
  }
  out["trailingBytes"] = info.trailingBytes;
  out["problems"] = info.problems;
  return out;
}

void printInspection(const MediaInspection& info) {
  std::printf("file size: %" PRIu64 " bytes\n", info.fileSize);
  std::printf("PE: %u sections, optional header %u bytes, last section entry at %u (raw data %u + %u), "
              "file alignment %u\n",
              info.pe.sectionCount, info.pe.optionalHeaderSize, info.pe.lastSectionEntry, info.pe.lastRawPointer,
              info.pe.lastRawSize, info.pe.fileAlignment);
  if (info.signature.present) {
    std::printf("signed: yes (Authenticode signature, %u bytes at %" PRIu64 ")\n", info.signature.size,
                info.signature.offset);
  } else {
    std::printf("signed: no\n");
  }
  std::printf("appended data at %" PRIu64 "\n", info.appendedStart);
  std::printf("header: magic 0x%08X (%s), checksum flag %d, stored checksum 0x%08X, checked length %" PRId64 "\n",
              static_cast<unsigned>(info.header.magic), info.header.magic == kMediaMagic ? "ok" : "BAD",
              info.header.checksumFlag, static_cast<unsigned>(info.header.storedChecksum), info.header.checkedLength);
  if (info.recordRead) {
    std::printf("narrow entries (%zu):\n", info.record.narrow.size());
    for (const auto& [id, value] : info.record.narrow) std::printf("  %d = %s\n", id, quoted(ansiToUtf8(value)).c_str());
    for (const auto& [id, value] : info.record.narrow) {
      if (id == kRuntimeDigestEntry) std::printf("runtime download SHA-256 (entry %d): %s\n", id, ansiToUtf8(value).c_str());
    }
    std::printf("wide entries (%zu):\n", info.record.wide.size());
    for (const auto& [id, value] : info.record.wide) std::printf("  %d = %s\n", id, quoted(utf16ToUtf8(value)).c_str());
    for (const LanguageGroup& group : info.record.languages) {
      std::printf("language %s (%zu entries):\n", quoted(ansiToUtf8(group.code)).c_str(), group.wide.size());
      for (const auto& [id, value] : group.wide) std::printf("  %d = %s\n", id, quoted(utf16ToUtf8(value)).c_str());
    }
    std::printf("configuration record ends at %" PRIu64 "\n", info.configEnd);
    std::printf("included files (entry 2002: %d, walked: %zu):\n", info.fileCount, info.files.size());
    for (const IncludedFileEntry& file : info.files) {
      std::printf("  size field at %" PRIu64 ", data at %" PRIu64 ", %" PRId64 " bytes  %s\n", file.sizeOffset,
                  file.sizeOffset + 8, file.size, ansiToUtf8(file.name).c_str());
    }
    CarriedRuntimeView runtime = carriedRuntime(info);
    if (runtime.carried) {
      std::printf("carried runtime: %s, %" PRId64 " bytes, %d bytes uncompressed (entry 151)%s\n", kRuntimeArchiveName,
                  runtime.archiveSize, runtime.uncompressedSize, runtime.packed ? ", packed (entry 153)" : "");
    } else {
      std::printf("carried runtime: none\n");
    }
  }
  if (info.filesWalked && info.checkedLengthValid) {
    std::printf("java-side data at %" PRIu64 ", %" PRId64 " bytes (unextracted position %" PRIu64 ")\n",
                info.javaDataOffset, info.javaDataSize, info.unextractedPosition);
  } else if (info.filesWalked) {
    std::printf("java-side data at %" PRIu64 ", size unknown (unextracted position %" PRIu64 ")\n",
                info.javaDataOffset, info.unextractedPosition);
  }
  std::printf("trailing bytes: %" PRId64 "\n", info.trailingBytes);
  for (const std::string& problem : info.problems) std::printf("problem: %s\n", problem.c_str());
}

int inspectCommand(const std::vector<std::string>& args) {
  std::string path;
  bool json = false;
  for (const std::string& arg : args) {
    if (arg == "--json") json = true;
    else if (path.empty() && arg.rfind("-", 0) != 0) path = arg;
    else throw PackError("unexpected argument " + arg);
  }
  if (path.empty()) throw PackError("inspect needs a FILE");
  FileSource source(path);
  MediaInspection info = inspectMedia(source);
  if (json) std::cout << inspectionJson(info).dump(2) << "\n";
  else printInspection(info);
  return info.problems.empty() ? 0 : 1;
}

int verifyCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) throw PackError("verify needs exactly one FILE");
  FileSource source(args[0]);
  VerifyResult result = verifyMedia(source);
  std::cout << result.message << "\n";
  return result.ok ? 0 : 1;
}

void makeDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) throw PackError(systemError("cannot create directory", path));
  if (!isDirectory(path)) throw PackError(path + " exists and is not a directory");
}

int extractCommand(const std::vector<std::string>& args) {
  if (args.size() != 2) throw PackError("extract needs FILE and DIR");
  FileSource source(args[0]);
  const std::string& dir = args[1];
  MediaInspection info = inspectMedia(source);
  if (!info.problems.empty()) throw PackError(args[0] + ": " + info.problems.front());
  // Every name is checked before anything is written, so a hostile table extracts nothing.
  for (const IncludedFileEntry& file : info.files) {
    if (!isContainedFileName(file.name)) throw PackError("refusing \"" + ansiToUtf8(file.name) + "\": it escapes " + dir);
  }
  makeDirectory(dir);
  std::unique_ptr<uint8_t[]> block(new uint8_t[kBlockSize]);
  for (const IncludedFileEntry& file : info.files) {
    std::string name = ansiToUtf8(file.name);
    if (file.size <= 0) {
      // The launcher creates no file for an empty entry; neither do we.
      std::cout << "skipped " << name << " (empty)\n";
      continue;
    }
    std::string path = hostPath(dir, name);
    for (std::size_t slash = path.find('/', dir.size() + 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
      makeDirectory(path.substr(0, slash));
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) throw PackError(systemError("cannot create", path));
    uint64_t dataStart = file.sizeOffset + 8;
    bool written = true;
    for (uint64_t done = 0; written && done < uint64_t(file.size);) {
      std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(kBlockSize, uint64_t(file.size) - done));
      if (!source.readAt(dataStart + done, block.get(), n)) {
        ::close(fd);
        throw PackError("cannot read " + name + " from " + args[0]);
      }
      maskBytes(block.get(), n);
      for (std::size_t put = 0; written && put < n;) {
        ssize_t w = ::write(fd, block.get() + put, n - put);
        if (w < 0 && errno == EINTR) continue;
        written = w > 0;
        if (written) put += static_cast<std::size_t>(w);
      }
      done += n;
    }
    if (!written || ::close(fd) != 0) throw PackError(systemError("cannot write", path));
    std::cout << "extracted " << name << " (" << file.size << " bytes)\n";
  }
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  try {
    if (command == "build") return buildCommand(args);
    if (command == "inspect") return inspectCommand(args);
    if (command == "verify") return verifyCommand(args);
    if (command == "extract") return extractCommand(args);
    if (command == "--help" || command == "-h") {
      usage();
      return 0;
    }
    std::cerr << "pathmere-pack: unknown command " << command << "\n";
    return usage();
  } catch (const PackError& e) {
    std::cerr << "pathmere-pack: " << e.what() << "\n";
  } catch (const std::bad_alloc&) {
    std::cerr << "pathmere-pack: out of memory\n";
  }
  return 1;
}
