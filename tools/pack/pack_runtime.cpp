#include "pack/pack_runtime.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "base/path_text.h"
#include "config/launcher_config.h"
#include "pack/pack_config.h"
#include "pack/pack_entries.h"
#include "pack/pack_files.h"
#include "runtime/tar_archive.h"

namespace {

constexpr std::size_t kBlock = 1 << 20;
// The PE header of a VM library lies in its first page.
constexpr std::size_t kVmHeadSize = 4096;
constexpr uint64_t kLargestOctalSize = 077777777777ull;

void putOctal(std::string& block, std::size_t offset, std::size_t digits, uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*llo", static_cast<int>(digits), static_cast<unsigned long long>(value));
  std::memcpy(&block[offset], text, digits);
}

// gzip through deflate, not gzopen: the header names Unix (3) as the system on every system, so
// that the Windows tool writes the bytes the Linux tool writes. Level 6 as gzopen's "wb6".
class GzipWriter {
 public:
  explicit GzipWriter(const std::string& path) : path_(path), buffer_(kBlock) {
    if (!file_.create(path)) throw PackError("cannot create " + path + ": " + systemErrorText());
    if (deflateInit2(&stream_, 6, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      throw PackError("cannot compress " + path);
    }
    header_.os = 3;
    deflateSetHeader(&stream_, &header_);
  }
  ~GzipWriter() { deflateEnd(&stream_); }
  GzipWriter(const GzipWriter&) = delete;
  GzipWriter& operator=(const GzipWriter&) = delete;
  void write(const void* data, std::size_t n) {
    if (n == 0) return;
    compress(data, n, Z_NO_FLUSH);
    written_ += n;
  }
  void close() {
    compress(nullptr, 0, Z_FINISH);
    if (!file_.close()) throw PackError("cannot finish " + path_);
  }
  uint64_t written() const { return written_; }

 private:
  void compress(const void* data, std::size_t n, int flush) {
    stream_.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    stream_.avail_in = static_cast<uInt>(n);
    int status = Z_OK;
    do {
      stream_.next_out = buffer_.data();
      stream_.avail_out = static_cast<uInt>(buffer_.size());
      status = deflate(&stream_, flush);
      if (status == Z_STREAM_ERROR) throw PackError("cannot compress " + path_);
      std::size_t out = buffer_.size() - stream_.avail_out;
      if (out > 0 && !file_.write(buffer_.data(), out)) throw PackError("cannot write " + path_);
    } while (stream_.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
  }

  std::string path_;
  OutputFile file_;
  z_stream stream_{};
  gz_header header_{};
  std::vector<Bytef> buffer_;
  uint64_t written_ = 0;
};

class TreeWriter {
 public:
  TreeWriter(GzipWriter& out, RuntimeArchive& archive) : out_(out), archive_(archive) {}

  // Pre-order: each directory's own entry comes before everything below it, in name order.
  void addDirectory(const std::string& hostDir, const std::string& tarPrefix) {
    std::vector<std::string> names;
    if (!listDirectory(hostDir, names)) throw PackError("cannot list " + hostDir + ": " + systemErrorText());
    // Byte-wise order of the UTF-8 names: the same archive from every system.
    std::sort(names.begin(), names.end());
    std::vector<std::string> early = earlyNames(tarPrefix);
    std::stable_sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
      return rank(early, a) < rank(early, b);
    });
    for (const std::string& name : names) {
      std::string host = hostDir + "/" + name;
      std::string tarName = tarPrefix + storedName(name, host);
      PathStatus link = linkStatus(host);
      if (!link.exists) throw PackError("cannot stat " + host + ": " + systemErrorText());
      PathStatus target = pathStatus(host);
      if (!target.exists) throw PackError("dangling link " + host);
      if (target.directory) {
        if (link.link) throw PackError(host + " is a link to a directory; the runtime must hold the directory itself");
        addEntry(tarName + "/", 0, true, static_cast<uint64_t>(target.modified));
        addDirectory(host, tarName + "/");
      } else if (target.regular) {
        addFile(host, tarName, target);
      } else {
        throw PackError(host + " is neither a regular file nor a directory");
      }
    }
  }

 private:
  std::string storedName(const std::string& name, const std::string& host) {
    std::string ansi;
    try {
      ansi = utf8ToAnsi(name);
    } catch (const PackError& e) {
      throw PackError(host + ": " + e.what());
    }
    if (!tarEntryPath(ansi) || ansi.find('\\') != std::string::npos) {
      throw PackError(host + ": the launcher refuses this name in a runtime archive");
    }
    return ansi;
  }

  // The launcher unpacks a packed runtime's pack200 archives while it untars the rest: they lead
  // their directories (rt.jar, the longest to unpack, first; a jar beside its own ".pack" before
  // it, as the launcher replaces the jar).
  std::vector<std::string> earlyNames(const std::string& tarPrefix) const {
    for (const std::string& home : packedHomes) {
      if (tarPrefix == home + "lib/ext/") return {"localedata.jar", "localedata.jar.pack"};
      if (tarPrefix == home + "lib/") {
        return {"rt.jar", "rt.jar.pack", "charsets.jar", "charsets.jar.pack", "plugin.jar", "plugin.jar.pack",
                "deploy.jar", "deploy.jar.pack", "jsse.jar.pack"};
      }
    }
    return {};
  }

  static std::size_t rank(const std::vector<std::string>& early, const std::string& name) {
    auto found = std::find(early.begin(), early.end(), lowerAscii(name));
    return static_cast<std::size_t>(found - early.begin());
  }

  void addEntry(const std::string& name, uint64_t size, bool directory, uint64_t mtime) {
    std::string header = ustarHeader(name, size, directory, mtime);
    out_.write(header.data(), header.size());
    std::string lower = lowerAscii(name);
    names_.push_back(lower);
  }

  void addFile(const std::string& host, const std::string& name, const PathStatus& st) {
    uint64_t size = st.size;
    addEntry(name, size, false, static_cast<uint64_t>(st.modified));
    bool vmFile = archive_.vmLibrary.empty() && isVmLibraryName(lowerAscii(name));
    if (vmFile) archive_.vmLibrary = name;
    InputFile in;
    if (!in.open(host)) throw PackError("cannot open " + host + ": " + systemErrorText());
    std::unique_ptr<char[]> block(new char[kBlock]);
    uint64_t done = 0;
    while (done < size) {
      long long got = in.read(block.get(), static_cast<std::size_t>(std::min<uint64_t>(kBlock, size - done)));
      if (got <= 0) {
        throw PackError("cannot read " + host + " (did it change while packing?)");
      }
      out_.write(block.get(), static_cast<std::size_t>(got));
      if (vmFile && archive_.vmLibraryHead.size() < kVmHeadSize) {
        archive_.vmLibraryHead.append(block.get(), std::min<std::size_t>(static_cast<std::size_t>(got),
                                                                          kVmHeadSize - archive_.vmLibraryHead.size()));
      }
      done += static_cast<uint64_t>(got);
    }
    static const char kZeros[kTarBlockSize] = {};
    if (size % kTarBlockSize) out_.write(kZeros, kTarBlockSize - size % kTarBlockSize);
    ++archive_.fileCount;
  }

 public:
  std::vector<std::string> names_;
  // "" and "jre/" when that runtime home is packed.
  std::vector<std::string> packedHomes;

 private:
  GzipWriter& out_;
  RuntimeArchive& archive_;
};

// Walks an archive for the check: records names, writes nothing, keeps the launcher's messages.
class CheckOutput : public TarOutput {
 public:
  void info(const std::string&) override {}
  void error(const std::string& line) override {
    if (firstError.empty()) firstError = line;
  }
  void createDirectory(const std::string& path) override { names.push_back(slashed(path) + "/"); }
  bool openFile(const std::string& path) override {
    names.push_back(slashed(path));
    inVmLibrary = vmLibrary.empty() && isVmLibraryName(names.back());
    if (inVmLibrary) vmLibrary = path;
    return true;
  }
  bool writeFile(const void* data, std::size_t n) override {
    if (inVmLibrary && vmLibraryHead.size() < kVmHeadSize) {
      vmLibraryHead.append(static_cast<const char*>(data), std::min(n, kVmHeadSize - vmLibraryHead.size()));
    }
    return true;
  }
  bool closeFile(bool keep) override {
    inVmLibrary = false;
    fileCount += keep;
    return true;
  }
  void progress(uint64_t, bool) override {}

  std::vector<std::string> names;
  uint64_t fileCount = 0;
  std::string firstError;
  std::string vmLibrary, vmLibraryHead;
  bool inVmLibrary = false;

 private:
  static std::string slashed(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return lowerAscii(path);
  }
};

class GzipInput : public TarInput {
 public:
  explicit GzipInput(gzFile file) : file_(file) {}
  int read(void* dst, unsigned n) override {
    int got = gzread(file_, dst, n);
    if (got > 0) {
      total += static_cast<uint64_t>(got);
      return got;
    }
    int error = Z_OK;
    gzerror(file_, &error);
    return got < 0 || error != Z_OK ? -1 : 0;
  }
  uint64_t total = 0;

 private:
  gzFile file_;
};

}  // namespace

std::string ustarHeader(const std::string& name, uint64_t size, bool directory, uint64_t mtime) {
  if (name.empty() || name.size() > kTarNameLength) {
    throw PackError("\"" + name + "\" does not fit the 100-byte name field the launcher reads");
  }
  if (size > kLargestOctalSize) throw PackError("\"" + name + "\" is larger than a tar size field holds");
  std::string block(kTarBlockSize, '\0');
  std::memcpy(&block[0], name.data(), name.size());
  putOctal(block, 100, 7, directory ? 0755 : 0644);
  putOctal(block, 108, 7, 0);
  putOctal(block, 116, 7, 0);
  putOctal(block, 124, 11, size);
  putOctal(block, 136, 11, std::min<uint64_t>(mtime, kLargestOctalSize));
  block[156] = directory ? '5' : '0';
  std::memcpy(&block[257], "ustar", 6);
  std::memcpy(&block[263], "00", 2);
  std::memset(&block[148], ' ', 8);
  unsigned sum = 0;
  for (unsigned char c : block) sum += c;
  putOctal(block, 148, 6, sum);
  block[154] = '\0';
  return block;
}

bool isVmLibraryName(const std::string& lowerName) {
  for (const char* home : {"", "jre/"}) {
    for (const char* kind : {"client", "server"}) {
      if (lowerName == std::string(home) + "bin/" + kind + "/jvm.dll") return true;
    }
  }
  return false;
}

bool isPackedRuntime(const std::vector<std::string>& lowerNames) {
  auto has = [&](const std::string& name) {
    return std::find(lowerNames.begin(), lowerNames.end(), name) != lowerNames.end();
  };
  for (const char* home : {"", "jre/"}) {
    std::string prefix = home;
    if (has(prefix + "lib/rt.jar.pack") && !has(prefix + "lib/jsse.jar")) return true;
  }
  return false;
}

bool hasUnpack200(const std::vector<std::string>& lowerNames) {
  for (const char* name : {"bin/unpack200.exe", "jre/bin/unpack200.exe"}) {
    if (std::find(lowerNames.begin(), lowerNames.end(), name) != lowerNames.end()) return true;
  }
  return false;
}

RuntimeArchive writeRuntimeArchive(const std::string& dir, const std::string& archivePath) {
  if (!pathStatus(dir).directory) throw PackError("runtime directory " + dir + " not found");
  RuntimeArchive archive;
  GzipWriter out(archivePath);
  TreeWriter tree(out, archive);
  for (const char* home : {"", "jre/"}) {
    std::string lib = dir + "/" + home + "lib/";
    if (pathStatus(lib + "rt.jar.pack").exists && !pathStatus(lib + "jsse.jar").exists) {
      tree.packedHomes.push_back(home);
    }
  }
  tree.addDirectory(dir, "");
  if (archive.fileCount == 0) throw PackError("runtime directory " + dir + " holds no file");
  // Two zero blocks end the archive; tar pads it to a multiple of 10240 bytes.
  std::string end(2 * kTarBlockSize, '\0');
  uint64_t total = out.written() + end.size();
  end.resize(end.size() + (10240 - total % 10240) % 10240, '\0');
  out.write(end.data(), end.size());
  archive.uncompressedSize = out.written();
  archive.packed = isPackedRuntime(tree.names_);
  archive.hasUnpack200 = hasUnpack200(tree.names_);
  out.close();
  return archive;
}

RuntimeArchive checkRuntimeArchive(const std::string& archivePath) {
  gzFile file = openGzip(archivePath, "rb");
  if (!file) throw PackError("cannot open " + archivePath + ": " + systemErrorText());
  if (gzdirect(file) == 1) {
    gzclose(file);
    throw PackError(archivePath + " is not gzip-compressed");
  }
  GzipInput input(file);
  CheckOutput output;
  bool ok = untarStream(input, output);
  // The launcher stops at the end blocks; the progress total is the whole stream.
  std::unique_ptr<char[]> block(new char[kBlock]);
  int got = 0;
  while (ok && (got = input.read(block.get(), kBlock)) > 0) {
  }
  gzclose(file);
  if (!ok) throw PackError(archivePath + ": the launcher would fail to unpack it: " + output.firstError);
  if (got < 0) throw PackError(archivePath + ": the compressed stream is damaged");
  RuntimeArchive archive;
  archive.uncompressedSize = input.total;
  archive.fileCount = output.fileCount;
  archive.packed = isPackedRuntime(output.names);
  archive.hasUnpack200 = hasUnpack200(output.names);
  archive.vmLibrary = output.vmLibrary;
  std::replace(archive.vmLibrary.begin(), archive.vmLibrary.end(), '\\', '/');
  archive.vmLibraryHead = output.vmLibraryHead;
  return archive;
}

std::string addCarriedRuntime(const std::string& configJson, const RuntimeArchive& runtime,
                              std::vector<std::string>& warnings) {
  using Json = nlohmann::ordered_json;
  Json root;
  try {
    root = Json::parse(configJson, nullptr, true, true);
  } catch (const Json::exception& e) {
    throw PackError(std::string("configuration is not valid JSON: ") + e.what());
  }
  if (!root.is_object()) throw PackError("configuration must be a JSON object");
  Json& files = root["files"];
  if (files.is_null()) files = Json::array();
  if (!files.is_array()) throw PackError("\"files\" must be a JSON array of names");
  for (const Json& name : files) {
    if (name.is_string() && lowerAscii(name.get<std::string>()) == kRuntimeArchiveName) {
      throw PackError("\"files\" already includes " + name.get<std::string>() + "; --jre adds the runtime itself");
    }
  }
  files.push_back(kRuntimeArchiveName);
  Json& narrow = root["narrow"];
  if (narrow.is_null()) narrow = Json::object();
  if (!narrow.is_object()) throw PackError("\"narrow\" must be a JSON object keyed by entry name or id");
  // Entries given by name are looked at under their ids.
  Json byId = Json::object();
  for (const auto& [key, value] : narrow.items()) {
    const EntryInfo* entry = findEntryByName(key);
    byId[entry ? std::to_string(entry->id) : key] = value;
  }
  narrow = byId;
  const std::string names = std::to_string(entry::kIncludedFileNames), count = std::to_string(entry::kIncludedFileCount),
                    size = std::to_string(entry::kJreDownloadSize), packed = std::to_string(entry::kJrePacked);
  if (narrow.contains(names) && narrow[names].is_string()) {
    std::string list = narrow[names].get<std::string>();
    if (!list.empty() && list.back() != ';') list += ';';
    narrow[names] = list + kRuntimeArchiveName + ";";
  }
  if (narrow.contains(count) && narrow[count].is_string()) {
    narrow[count] = std::to_string(parseConfigInt(narrow[count].get<std::string>()) + 1);
  }
  std::string bytes = std::to_string(runtime.uncompressedSize);
  if (!narrow.contains(size)) {
    if (runtime.uncompressedSize <= INT32_MAX) {
      narrow[size] = bytes;
    } else {
      warnings.push_back("the runtime's " + bytes + " bytes exceed what entry 151 holds; the progress bar will not move while it unpacks");
    }
  } else if (narrow[size] != Json(bytes)) {
    warnings.push_back("entry 151 is set to " + narrow[size].dump() + " but the runtime archive holds " + bytes +
                       " bytes: the progress bar will be off");
  }
  if (!narrow.contains(packed)) {
    if (runtime.packed) narrow[packed] = "1";
  } else if (narrow[packed].is_string() && (parseConfigInt(narrow[packed].get<std::string>()) != 0) != runtime.packed) {
    warnings.push_back(std::string("entry 153 says the runtime is ") + (runtime.packed ? "not packed" : "packed") +
                       " but it is " + (runtime.packed ? "packed" : "not packed"));
  }
  return root.dump();
}
