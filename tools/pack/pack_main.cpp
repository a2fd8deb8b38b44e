// pathmere-pack: writes the launcher's appended data onto a stub, and inspects, verifies and
// unpacks finished installers. Payloads can be far larger than memory is worth spending on them,
// so every file is streamed in blocks.
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "config/launcher_config.h"
#include "media/media_format.h"
#include "pack/pack_config.h"
#include "pack/pack_digest.h"
#include "pack/pack_entries.h"
#include "pack/pack_files.h"
#include "pack/pack_media.h"
#include "pack/pack_resources.h"
#include "pack/pack_runtime.h"
#include "pack/pack_zip.h"
#include "pathmere_version.h"
#include "runtime/download_transfer.h"
#include "runtime/pe_machine.h"

extern const char kLauncherClassesJar[];
extern const std::size_t kLauncherClassesJar_size;

namespace {

// The launcher's dialogs were drawn for short texts: the progress dialog's text area holds three
// lines, the runtime-missing dialog's five, of about 44 average characters (176 dialog units). It
// grows a dialog for a longer text, which then covers more of a small screen than meant.
std::vector<std::string> longTextWarnings(const ConfigRecord& record) {
  struct Area {
    int32_t id;
    int lines;
    const char* where;
  };
  static const Area areas[] = {{entry::kPreparingText, 3, "the progress dialog"},
                               {entry::kDownloadingText, 3, "the progress dialog"},
                               {entry::kNoJreDownloadText, 5, "the runtime-missing dialog"},
                               {entry::kNoJreLocateText, 5, "the runtime-missing dialog"}};
  constexpr std::size_t kLineChars = 44;
  auto lineCount = [](const std::u16string& text) {
    int lines = 0;
    std::size_t start = 0;
    for (;;) {
      std::size_t end = text.find(u'\n', start);
      std::size_t length = (end == std::u16string::npos ? text.size() : end) - start;
      lines += static_cast<int>(length == 0 ? 1 : (length + kLineChars - 1) / kLineChars);
      if (end == std::u16string::npos) return lines;
      start = end + 1;
    }
  };
  std::vector<std::string> warnings;
  auto check = [&](const std::vector<std::pair<int32_t, std::u16string>>& wide, const std::string& language) {
    for (const auto& [id, text] : wide) {
      for (const Area& area : areas) {
        int lines = lineCount(text);
        if (id != area.id || lines <= area.lines) continue;
        warnings.push_back("message " + std::to_string(id) + language + " takes about " + std::to_string(lines) +
                           " lines where " + area.where + " has room for " + std::to_string(area.lines) +
                           ": the launcher makes the dialog taller to show it whole");
      }
    }
  };
  check(record.wide, "");
  for (const LanguageGroup& group : record.languages) check(group.wide, " (" + group.code + ")");
  return warnings;
}
using Json = nlohmann::ordered_json;

std::string_view launcherClassesJar() { return std::string_view(kLauncherClassesJar, kLauncherClassesJar_size); }
constexpr std::size_t kBlockSize = 1 << 20;

std::string systemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + systemErrorText();
}

class FileSource : public ByteSource {
 public:
  explicit FileSource(const std::string& path) : ByteSource(0, &FileSource::readInput), path_(path) {
    if (!file_.open(path)) throw PackError(systemError("cannot open", path));
    if (!file_.status().regular) throw PackError(path + " is not a regular file");
    length_ = file_.status().size;
  }

  uint32_t mode() const { return file_.status().mode; }
  bool sameFileAs(const std::string& other) const { return file_.sameFileAs(other); }
  const std::string& path() const { return path_; }

 private:
  static bool readInput(ByteSource& source, uint64_t pos, void* dst, std::size_t n) {
    return static_cast<FileSource&>(source).file_.readAt(pos, dst, n);
  }

  std::string path_;
  InputFile file_;
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
    std::string prefix = (slash == std::string::npos ? "" : dir) + "." + base + ".";
    if (!file_.createUnique(prefix, tempPath_)) throw PackError(systemError("cannot create a temporary file in", dir));
  }
  ~PendingOutput() {
    if (file_.isOpen()) file_.close();
    if (!committed_) removeFile(tempPath_);
  }
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  void write(const void* data, std::size_t n) override {
    if (!file_.write(data, n)) throw PackError(systemError("cannot write", tempPath_));
  }
  void writeAt(uint64_t pos, const std::string& bytes) override {
    if (!file_.writeAt(pos, bytes.data(), bytes.size())) throw PackError(systemError("cannot write", tempPath_));
  }
  void commit(uint32_t mode) {
    if (!file_.sync(mode) || !file_.close()) throw PackError(systemError("cannot finish", tempPath_));
    if (!replaceFile(tempPath_, finalPath_)) throw PackError(systemError("cannot rename to", finalPath_));
    committed_ = true;
  }

 private:
  std::string finalPath_;
  std::string tempPath_;
  OutputFile file_;
  bool committed_ = false;
};

std::string readWholeFile(const std::string& path) {
  InputFile in;
  if (!in.open(path)) throw PackError(systemError("cannot open", path));
  std::string text;
  char block[65536];
  for (long long got; (got = in.read(block, sizeof block)) != 0;) {
    if (got < 0) throw PackError(systemError("cannot read", path));
    text.append(block, static_cast<std::size_t>(got));
  }
  return text;
}

bool isDirectory(const std::string& path) { return pathStatus(path).directory; }

std::string hostPath(const std::string& dir, const std::string& name) {
  std::string path = dir + "/" + name;
  for (std::size_t i = dir.size() + 1; i < path.size(); ++i) {
    if (path[i] == '\\') path[i] = '/';
  }
  return path;
}

// A command line the tool cannot follow: reported with the command's usage, exit code 2.
struct UsageError : PackError {
  using PackError::PackError;
};

constexpr const char* kVersion = "pathmere-pack " PATHMERE_VERSION;

struct OptionSpec {
  const char* name;   // the long form, "--stub"
  const char* alias;  // a short form or nullptr
  const char* value;  // the value's placeholder, nullptr for a switch
  const char* help;
};

struct CommandSpec {
  const char* name;
  const char* operands;  // positional arguments, for the synopsis
  const char* summary;
  std::vector<OptionSpec> options;
};

const std::vector<CommandSpec>& commands() {
  static const std::vector<CommandSpec> table = {
      {"build", "", "write an installer: the stub, then the configuration and the files",
       {{"--arch", nullptr, "x86|x64", "the installer's architecture, x86 unless given: the stub shipped beside the tool"},
        {"--stub", nullptr, "STUB.exe", "this launcher stub instead of the one --arch names"},
        {"--config", nullptr, "CONFIG.json", "the configuration (see docs/configuration.md)"},
        {"--files", nullptr, "DIR", "the folder holding the configuration's \"files\" (needed when it lists any)"},
        {"--output", "-o", "OUT.exe", "the installer to write; replaced only when the build succeeds"},
        {"--jre", nullptr, "DIR|ARCHIVE.tar.gz", "carry this Java runtime as jre.tar.gz (sets entries 151 and 153)"},
        {"--jre-download", nullptr, "ARCHIVE", "write the SHA-256 of the archive the download address serves (entry 162)"},
        {"--allow-unverified-download", nullptr, nullptr, "accept a download address (entry 150) without a digest (entry 162)"},
        {"--icon", nullptr, "FILE.ico", "replace the stub's icon"},
        {"--java-data", nullptr, "FILE", "append the Java application's own data"},
        {"--no-checksum", nullptr, nullptr, "write an installer whose CRC-32 is not checked"},
        {"--no-defaults", nullptr, nullptr, "write only what the configuration holds: no built-in messages, no launcher classes"},
        {"--unknown-entries", nullptr, nullptr, "accept entry ids outside the tool's table, written as they stand"},
        {"--unchecked-names", nullptr, nullptr,
         "write entries 2002/2003 as given even when they disagree with \"files\" (a warning), for launcher tests"}}},
      {"inspect", "FILE", "show an installer's header, entries (with names), files and resources; exit 1 on a problem",
       {{"--json", nullptr, nullptr, "print JSON instead of text"}}},
      {"verify", "FILE", "check the appended data as the launcher will (magic, CRC-32): \"OK\" and exit 0, or the reason and exit 1", {}},
      {"extract", "FILE DIR", "write the included files into DIR (which must be empty or new)",
       {{"--force", nullptr, nullptr, "write into a folder that is not empty, replacing files of the same name"}}},
      {"init", "DIR", "start a new installer: DIR/config.json (a minimal, commented configuration) and DIR/files/",
       {{"--force", nullptr, nullptr, "replace an existing DIR/config.json"}}},
      {"schema", "", "print the configuration's JSON Schema (for editors)", {}},
      {"reference", "", "print the configuration reference (docs/configuration.md)", {}},
  };
  return table;
}

const CommandSpec* findCommand(const std::string& name) {
  for (const CommandSpec& command : commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

std::string commandUsage(const CommandSpec& command) {
  std::string text = std::string("usage: pathmere-pack ") + command.name;
  if (*command.operands) text += std::string(" ") + command.operands;
  if (!command.options.empty()) text += " [options]";
  text += "\n" + std::string(command.summary) + "\n";
  if (!command.options.empty()) text += "\noptions:\n";
  for (const OptionSpec& option : command.options) {
    std::string left = std::string("  ") + (option.alias ? std::string(option.alias) + ", " : "") + option.name +
                       (option.value ? std::string(" ") + option.value : "");
    text += left + std::string(left.size() < 34 ? 34 - left.size() : 1, ' ') + option.help + "\n";
  }
  text += "  -h, --help" + std::string(24, ' ') + "this help\n";
  return text;
}

std::string toolUsage() {
  std::string text =
      "usage: pathmere-pack COMMAND [options]\n"
      "Builds, inspects, verifies and unpacks Pathmere installers.\n\ncommands:\n";
  for (const CommandSpec& command : commands()) {
    std::string left = std::string("  ") + command.name + (*command.operands ? std::string(" ") + command.operands : "");
    text += left + std::string(left.size() < 20 ? 20 - left.size() : 1, ' ') + command.summary + "\n";
  }
  text +=
      "\n`pathmere-pack COMMAND --help` describes a command; `pathmere-pack --version` the version.\n"
      "Exit codes: 0 done, 1 refused or a problem found, 2 a command line it cannot follow.\n";
  return text;
}

struct Arguments {
  std::vector<std::string> operands;
  std::vector<std::pair<std::string, std::string>> values;  // long option name, value
  std::vector<std::string> switches;
  bool help = false;

  bool has(const std::string& name) const {
    return std::find(switches.begin(), switches.end(), name) != switches.end();
  }
  std::string value(const std::string& name) const {
    std::string found;
    for (const auto& [option, text] : values) {
      if (option == name) found = text;
    }
    return found;
  }
};

Arguments parseArguments(const CommandSpec& command, const std::vector<std::string>& args) {
  Arguments parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      parsed.help = true;
      continue;
    }
    std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    std::string name = arg.substr(0, equals);
    const OptionSpec* known = nullptr;
    for (const OptionSpec& option : command.options) {
      if (name == option.name || (option.alias && name == option.alias)) known = &option;
    }
    if (!known) throw UsageError(std::string(command.name) + ": unknown option " + name);
    if (!known->value) {
      if (equals != std::string::npos) throw UsageError(std::string(command.name) + ": " + name + " takes no value");
      parsed.switches.push_back(known->name);
    } else if (equals != std::string::npos) {
      parsed.values.emplace_back(known->name, arg.substr(equals + 1));
    } else if (i + 1 < args.size()) {
      parsed.values.emplace_back(known->name, args[++i]);
    } else {
      throw UsageError(std::string(command.name) + ": " + name + " needs a value (" + known->value + ")");
    }
  }
  return parsed;
}

void expectOperands(const CommandSpec& command, const Arguments& args) {
  std::vector<std::string> wanted;
  std::istringstream words(command.operands);
  for (std::string word; words >> word;) wanted.push_back(word);
  if (args.operands.size() < wanted.size()) {
    throw UsageError(std::string(command.name) + ": " + wanted[args.operands.size()] + " is missing");
  }
  if (args.operands.size() > wanted.size()) {
    throw UsageError(std::string(command.name) + ": unexpected argument " + args.operands[wanted.size()]);
  }
}

// A scratch file beside the output, removed when done.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& besidePath) {
    std::size_t slash = besidePath.rfind('/');
    std::string prefix = (slash == std::string::npos ? std::string() : besidePath.substr(0, slash + 1)) + ".jre.";
    OutputFile file;
    if (!file.createUnique(prefix, path_) || !file.close()) {
      throw PackError(systemError("cannot create a temporary file for", besidePath));
    }
  }
  ~ScratchFile() { removeFile(path_); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The tool's own folder, from which it finds the stubs it ships with.
std::string toolDirectory() {
  std::string folder;
  if (!toolFolder(folder)) throw PackError("cannot find the tool's own folder: " + systemErrorText());
  return folder;
}

// The stub of an architecture: in a release beside the tool (bin/pathmere-pack and
// stubs/x86/pathmere_setup.exe), in a checkout in the build tree of that architecture's preset
// (build/host/bin/pathmere-pack and build/win32/bin/pathmere_setup.exe).
std::string shippedStub(const std::string& arch) {
  std::string dir = toolDirectory();
  std::string release = dir + "/../stubs/" + arch + "/pathmere_setup.exe";
  std::string checkout = dir + "/../../" + (arch == "x86" ? "win32" : "win64") + "/bin/pathmere_setup.exe";
  for (const std::string& candidate : {release, checkout}) {
    if (pathStatus(candidate).regular) return candidate;
  }
  throw PackError("no " + arch + " stub beside the tool (looked for " + release + " and " + checkout +
                  "); give --stub STUB.exe");
}

std::optional<uint16_t> vmLibraryMachine(const RuntimeArchive& runtime) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(runtime.vmLibraryHead.data());
  std::optional<uint32_t> offset = peHeaderOffset(bytes, runtime.vmLibraryHead.size());
  if (!offset || *offset > runtime.vmLibraryHead.size()) return std::nullopt;
  return peMachineAt(bytes + *offset, runtime.vmLibraryHead.size() - *offset);
}

uint16_t imageMachine(ByteSource& image, const PeLayout& layout) {
  uint8_t header[kPeSignatureAndMachineSize];
  if (!image.bytesAt(layout.peOffset, header, sizeof header)) return 0;
  return peMachineAt(header, sizeof header).value_or(0);
}

std::string archOf(uint16_t machine) {
  return machine == kMachineAmd64 ? "x64" : machine == kMachineI386 ? "x86" : machineName(machine);
}

int buildCommand(const Arguments& args) {
  std::string stubPath = args.value("--stub"), configPath = args.value("--config"), filesDir = args.value("--files"),
              javaDataPath = args.value("--java-data"), outPath = args.value("--output"), jrePath = args.value("--jre"),
              downloadArchive = args.value("--jre-download"), iconPath = args.value("--icon");
  bool checksum = !args.has("--no-checksum");
  PackConfigOptions options;
  options.uncheckedNames = args.has("--unchecked-names");
  options.unknownEntries = args.has("--unknown-entries");
  options.defaults = options.addLauncherClasses = !args.has("--no-defaults");
  std::string missing;
  std::string arch = args.value("--arch").empty() ? "x86" : args.value("--arch");
  if (arch != "x86" && arch != "x64") throw UsageError("build: --arch is x86 or x64, not \"" + arch + "\"");
  for (const auto& [value, name] : {std::make_pair(&configPath, "--config"), std::make_pair(&outPath, "-o")}) {
    if (value->empty()) missing += (missing.empty() ? "" : ", ") + std::string(name);
  }
  if (!missing.empty()) throw UsageError("build: missing " + missing);
  if (stubPath.empty()) stubPath = shippedStub(arch);

  std::string configText = readWholeFile(configPath);
  std::unique_ptr<ScratchFile> runtimeScratch;
  std::string runtimeArchivePath;
  std::vector<std::string> runtimeWarnings;
  RuntimeArchive runtime;
  std::optional<uint16_t> carriedVm;
  std::string carriedVmName;
  if (!jrePath.empty()) {
    if (isDirectory(jrePath)) {
      runtimeScratch = std::make_unique<ScratchFile>(outPath);
      runtimeArchivePath = runtimeScratch->path();
      runtime = writeRuntimeArchive(jrePath, runtimeArchivePath);
    } else {
      runtimeArchivePath = jrePath;
      runtime = checkRuntimeArchive(jrePath);
    }
    carriedVmName = runtime.vmLibrary;
    carriedVm = vmLibraryMachine(runtime);
    if (!carriedVm && !runtime.vmLibrary.empty()) throw PackError("runtime " + jrePath + ": " + runtime.vmLibrary + " is no PE image");
    configText = addCarriedRuntime(configText, runtime, runtimeWarnings);
    std::printf("runtime %s: %" PRIu64 " files, %" PRIu64 " bytes uncompressed%s\n", jrePath.c_str(), runtime.fileCount,
                runtime.uncompressedSize, runtime.packed ? ", packed" : "");
  }
  PackConfig config = parsePackConfig(configText, options);
  config.warnings.insert(config.warnings.end(), runtimeWarnings.begin(), runtimeWarnings.end());
  if (!jrePath.empty() && !runtime.hasUnpack200) {
    std::string packs;
    for (const std::string& name : config.files) {
      std::string end = name.size() > 5 ? name.substr(name.size() - 5) : std::string();
      for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (end == ".pack") packs += (packs.empty() ? "" : ", ") + name;
    }
    // Only the carried runtime's own unpack200.exe can unpack them: without it the installer
    // cannot start on a machine that has no other runtime.
    if (runtime.packed || !packs.empty()) {
      config.warnings.push_back(std::string("THE INSTALLER WILL FAIL: the carried runtime has no bin/unpack200.exe, so ") +
                                (runtime.packed ? "its packed jars (entry 153)" : "") +
                                (runtime.packed && !packs.empty() ? " and " : "") +
                                (packs.empty() ? "" : "the included " + packs) +
                                " cannot be unpacked; add unpack200.exe to the runtime or give unpacked jars");
    }
  }
  // The archive the server will serve: the launcher refuses a download with another digest.
  if (!downloadArchive.empty()) setRuntimeDigest(config.record, fileSha256Hex(downloadArchive));
  std::string download = unverifiedDownload(config.record);
  if (!download.empty() && !args.has("--allow-unverified-download")) {
    throw PackError(download + "; give --jre-download ARCHIVE (or entry 162), or --allow-unverified-download");
  }

  FileSource stub(stubPath);
  PeLayout layout;
  std::string problem = stubProblem(stub, layout);
  if (!problem.empty()) throw PackError("stub " + stubPath + " " + problem);
  // The launcher loads the carried jvm.dll into its own process: one of the other architecture
  // could never load, and the user would learn it only from an error box.
  if (carriedVm) {
    uint16_t stubMachine = imageMachine(stub, layout);
    if (*carriedVm != stubMachine) {
      throw PackError("runtime " + jrePath + ": " + carriedVmName + " is " + machineName(*carriedVm) + " but the stub " +
                      stubPath + " is " + machineName(stubMachine) + " (--arch " + archOf(*carriedVm) +
                      " takes a runtime of this kind)");
    }
  }
  // A new icon or version resource changes the image itself, before anything is appended.
  VersionInfo versionInfo;
  bool hasVersion = parseVersionInfo(configText, versionInfo);
  std::string icon = iconPath.empty() ? std::string() : readWholeFile(iconPath);
  std::string rewritten;
  std::unique_ptr<MemorySource> rewrittenStub;
  if (hasVersion || !iconPath.empty()) {
    std::string image(stub.byteLength(), '\0');
    if (!stub.bytesAt(0, image.data(), image.size())) throw PackError("cannot read " + stubPath);
    ResourceChanges changes;
    changes.icon = iconPath.empty() ? nullptr : &icon;
    changes.version = hasVersion ? &versionInfo : nullptr;
    try {
      rewritten = rewriteResources(image, changes);
    } catch (const PackError& e) {
      throw PackError("stub " + stubPath + ": " + e.what());
    }
    rewrittenStub = std::make_unique<MemorySource>(rewritten.data(), rewritten.size());
    if (!readPeLayout(*rewrittenStub, layout)) throw PackError("the rewritten stub is no PE image");
  }

  std::size_t ownFiles = config.files.size() - (config.addedLauncherClasses ? 1 : 0) - (runtimeArchivePath.empty() ? 0 : 1);
  if (ownFiles > 0 && filesDir.empty()) throw UsageError("build: missing --files (the configuration lists files)");
  if (!filesDir.empty() && !isDirectory(filesDir)) throw PackError("files directory " + filesDir + " does not exist");
  std::vector<std::unique_ptr<ByteSource>> files;
  std::vector<const FileSource*> fileInputs;
  for (std::size_t i = 0; i < config.files.size(); ++i) {
    const std::string& name = config.files[i];
    if (config.addedLauncherClasses && i + 1 == config.files.size()) {
      files.push_back(std::make_unique<MemorySource>(launcherClassesJar().data(), launcherClassesJar().size()));
      continue;
    }
    bool carried = !runtimeArchivePath.empty() && name == kRuntimeArchiveName;
    std::string path = carried ? runtimeArchivePath : hostPath(filesDir, name);
    if (!pathStatus(path).exists) throw PackError("included file \"" + name + "\" not found: " + path);
    auto source = std::make_unique<FileSource>(path);
    fileInputs.push_back(source.get());
    files.push_back(std::move(source));
  }
  std::vector<std::pair<std::string, ByteSource*>> named;
  for (std::size_t i = 0; i < files.size(); ++i) named.emplace_back(config.files[i], files[i].get());
  const std::string* mainClass = lastNarrowValue(config.record, entry::kMainClass);
  std::string mainClassWarning = mainClassProblem(mainClass ? ansiToUtf8(*mainClass) : "", named);
  if (!mainClassWarning.empty()) config.warnings.push_back(mainClassWarning);
  for (const std::string& warning : longTextWarnings(config.record)) config.warnings.push_back(warning);
  for (const std::string& warning : config.warnings) std::cerr << "pathmere-pack: warning: " << warning << "\n";
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
  for (const FileSource* input : fileInputs) {
    if (input->sameFileAs(outPath)) throw PackError("output " + outPath + " would overwrite input " + input->path());
  }

  MediaInputs inputs;
  inputs.stub = rewrittenStub ? static_cast<ByteSource*>(rewrittenStub.get()) : &stub;
  inputs.fileAlignment = layout.fileAlignment;
  inputs.record = encodeConfigRecord(config.record);
  for (const auto& file : files) inputs.files.push_back(file.get());
  inputs.javaData = javaData.get();
  inputs.checksum = checksum;
  // A rewritten stub that carries a PE checksum keeps one that is true of the whole installer;
  // a stub used as it stands is copied byte for byte.
  uint64_t checksumField = 0;
  uint8_t stubChecksum[4] = {0, 0, 0, 0};
  bool keepChecksum = rewrittenStub && peChecksumField(*inputs.stub, layout, checksumField) &&
                      inputs.stub->bytesAt(checksumField, stubChecksum, 4) && decodeLittleEndian<uint32_t>(stubChecksum) != 0;
  if (keepChecksum) inputs.peChecksumField = checksumField;
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

// The table's name of an id; "(unknown)" for one outside it.
std::string entryName(int32_t id) {
  const EntryInfo* entry = findEntry(id);
  return entry ? entry->name : "(unknown)";
}

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
  const std::string* size = lastNarrowValue(info.record, entry::kJreDownloadSize);
  const std::string* packed = lastNarrowValue(info.record, entry::kJrePacked);
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
    for (const auto& [id, value] : entries) {
      list.push_back({{"id", id}, {"name", entryName(id)}, {"value", utf16ToUtf8(value)}});
    }
    return list;
  };
  if (info.recordRead) {
    Json narrow = Json::array();
    for (const auto& [id, value] : info.record.narrow) {
      narrow.push_back({{"id", id}, {"name", entryName(id)}, {"value", ansiToUtf8(value)}});
    }
    out["narrow"] = narrow;
    for (const auto& [id, value] : info.record.narrow) {
      if (id == entry::kJreDownloadSha256) out["runtimeDigest"] = ansiToUtf8(value);
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
    for (const auto& [id, value] : info.record.narrow) {
      std::printf("  %d %s = %s\n", id, entryName(id).c_str(), quoted(ansiToUtf8(value)).c_str());
    }
    for (const auto& [id, value] : info.record.narrow) {
      if (id == entry::kJreDownloadSha256) std::printf("runtime download SHA-256 (entry %d): %s\n", id, ansiToUtf8(value).c_str());
    }
    std::printf("wide entries (%zu):\n", info.record.wide.size());
    for (const auto& [id, value] : info.record.wide) {
      std::printf("  %d %s = %s\n", id, entryName(id).c_str(), quoted(utf16ToUtf8(value)).c_str());
    }
    for (const LanguageGroup& group : info.record.languages) {
      std::printf("language %s (%zu entries):\n", quoted(ansiToUtf8(group.code)).c_str(), group.wide.size());
      for (const auto& [id, value] : group.wide) {
        std::printf("  %d %s = %s\n", id, entryName(id).c_str(), quoted(utf16ToUtf8(value)).c_str());
      }
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

// The icon and version resources of the image before its appended data.
ResourceView imageResources(FileSource& source, const MediaInspection& info, std::vector<std::string>& problems) {
  std::string image(static_cast<std::size_t>(std::min<uint64_t>(info.appendedStart, source.byteLength())), '\0');
  if (!source.bytesAt(0, image.data(), image.size())) return {};
  try {
    return readResources(image);
  } catch (const PackError& e) {
    problems.push_back(std::string("resources: ") + e.what());
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    // A fault of the reader's own, met on a hostile file: still the file's problem to report.
    problems.push_back(std::string("resources: cannot be read (") + e.what() + ")");
  }
  return {};
}

int inspectCommand(const Arguments& args) {
  FileSource source(args.operands[0]);
  MediaInspection info = inspectMedia(source);
  ResourceView resources = imageResources(source, info, info.problems);
  if (args.has("--json")) {
    Json out = inspectionJson(info);
    out["resources"] = {{"icons", resources.icons},
                        {"fileVersion", resources.fileVersion},
                        {"productVersion", resources.productVersion},
                        {"versionStrings", resources.versionStrings}};
    std::cout << out.dump(2) << "\n";
  } else {
    std::printf("icons: %zu", resources.icons.size());
    for (const std::string& icon : resources.icons) std::printf(", %s", icon.c_str());
    std::printf("\nversion: file %s, product %s\n", resources.fileVersion.c_str(), resources.productVersion.c_str());
    for (const auto& [name, value] : resources.versionStrings) std::printf("  %s = %s\n", name.c_str(), quoted(value).c_str());
    printInspection(info);
  }
  return info.problems.empty() ? 0 : 1;
}

int verifyCommand(const Arguments& args) {
  FileSource source(args.operands[0]);
  VerifyResult result = verifyMedia(source);
  std::cout << result.message << "\n";
  return result.ok ? 0 : 1;
}

void makeDirectory(const std::string& path) {
  if (!createDirectory(path)) throw PackError(systemError("cannot create directory", path));
  if (!isDirectory(path)) throw PackError(path + " exists and is not a directory");
}

bool isEmptyDirectory(const std::string& path) {
  std::vector<std::string> names;
  return listDirectory(path, names) && names.empty();
}

int extractCommand(const Arguments& args) {
  FileSource source(args.operands[0]);
  const std::string& dir = args.operands[1];
  MediaInspection info = inspectMedia(source);
  if (!info.problems.empty()) throw PackError(args.operands[0] + ": " + info.problems.front());
  // Every name is checked before anything is written, so a hostile table extracts nothing.
  for (const IncludedFileEntry& file : info.files) {
    if (!isContainedFileName(file.name)) throw PackError("refusing \"" + ansiToUtf8(file.name) + "\": it escapes " + dir);
  }
  PathStatus existing = linkStatus(dir);
  if (existing.exists && !args.has("--force") && !(existing.directory && isEmptyDirectory(dir))) {
    throw PackError(dir + " exists and is not an empty folder; --force writes into it");
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
    OutputFile out;
    if (!out.create(path)) throw PackError(systemError("cannot create", path));
    uint64_t dataStart = file.sizeOffset + 8;
    bool written = true;
    for (uint64_t done = 0; written && done < uint64_t(file.size);) {
      std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(kBlockSize, uint64_t(file.size) - done));
      if (!source.bytesAt(dataStart + done, block.get(), n)) {
        throw PackError("cannot read " + name + " from " + args.operands[0]);
      }
      maskBytes(block.get(), n);
      written = out.write(block.get(), n);
      done += n;
    }
    if (!written || !out.close()) throw PackError(systemError("cannot write", path));
    std::cout << "extracted " << name << " (" << file.size << " bytes)\n";
  }
  return 0;
}
const char kStarterConfig[] = R"(// Installer configuration for pathmere-pack: JSON, with // comments allowed.
// Every entry, its meaning and its default: docs/configuration.md (or `pathmere-pack reference`).
// Build: pathmere-pack build --config config.json --files files -o setup.exe (--arch x64 for 64 bits)
{
  "narrow": {
    // Names the product in the launcher's messages and dialog captions.
    "appTitle": "My Product",
    // Your Java program's main class; the jar that holds it goes into files/ and the list below.
    "mainClass": "com.example.Setup",
    // Lowest and highest Java versions the program accepts (empty: any); "8" covers all of 8.
    "minJavaVersion": "8",
    "maxJavaVersion": "",
    // Where to look for an installed runtime: every vendor's registered runtimes, every folder
    // on PATH, JAVA_HOME, then the JavaSoft keys and runtimes the user picked before.
    "jreSearchSequence": "M;P;EJAVA_HOME;Y",
    // 1: versions compared as numbers (11 above 9), read from the runtime's release file.
    "versionScheme": 1
  },
  // What the installer carries, from files/, in this order ("sub\\name" for one folder level).
  // Jars and zips are on the class path. The tool adds the launcher's own Java classes
  // (tsrlauncher.jar) and English texts for every message the launcher can show.
  "files": ["app.jar"],
  // Shown in the installer's file properties.
  "versionInfo": {
    "productName": "My Product",
    "companyName": "My Company",
    "fileDescription": "My Product setup",
    "fileVersion": "1.0.0.0",
    "productVersion": "1.0.0",
    "legalCopyright": "Copyright (C) My Company"
  }
}
)";

int initCommand(const Arguments& args) {
  const std::string& dir = args.operands[0];
  makeDirectory(dir);
  makeDirectory(dir + "/files");
  std::string config = dir + "/config.json";
  if (linkStatus(config).exists && !args.has("--force")) {
    throw PackError(config + " exists; --force replaces it");
  }
  PendingOutput out(config);
  out.write(kStarterConfig, sizeof kStarterConfig - 1);
  out.commit(0644);
  std::cout << "wrote " << config << " and " << dir << "/files/: put your jar there as app.jar, set mainClass, then\n"
            << "  pathmere-pack build --config " << config << " --files " << dir
            << "/files -o setup.exe\n";
  return 0;
}

int runCommand(const std::string& name, const std::vector<std::string>& rest) {
  const CommandSpec* command = findCommand(name);
  if (!command) throw UsageError("unknown command " + name);
  Arguments args = parseArguments(*command, rest);
  if (args.help) {
    std::cout << commandUsage(*command);
    return 0;
  }
  expectOperands(*command, args);
  if (name == "build") return buildCommand(args);
  if (name == "inspect") return inspectCommand(args);
  if (name == "verify") return verifyCommand(args);
  if (name == "extract") return extractCommand(args);
  if (name == "init") return initCommand(args);
  std::cout << (name == "schema" ? configurationSchema() : configurationReference());
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  useBinaryStandardStreams();
  std::vector<std::string> args = commandArguments(argc, argv);
  if (!args.empty()) args.erase(args.begin());
  std::string command = args.empty() ? "" : args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    const CommandSpec* about = args.size() > 1 ? findCommand(args[1]) : nullptr;
    std::cout << (about ? commandUsage(*about) : toolUsage());
    return 0;
  }
  if (command == "--version") {
    std::cout << kVersion << "\n";
    return 0;
  }
  if (command.empty()) {
    std::cerr << toolUsage();
    return 2;
  }
  try {
    return runCommand(command, std::vector<std::string>(args.begin() + 1, args.end()));
  } catch (const UsageError& e) {
    const CommandSpec* known = findCommand(command);
    std::cerr << "pathmere-pack: " << e.what() << "\n"
              << (known ? "see pathmere-pack " + command + " --help" : std::string("see pathmere-pack --help")) << "\n";
    return 2;
  } catch (const PackError& e) {
    std::cerr << "pathmere-pack: " << e.what() << "\n";
  } catch (const std::bad_alloc&) {
    std::cerr << "pathmere-pack: out of memory\n";
  } catch (const std::exception& e) {
    std::cerr << "pathmere-pack: internal error: " << e.what() << "\n";
  }
  return 1;
}
