#include "vm/vm_options.h"

#include <cctype>

#include "base/log.h"
#include "base/text_limits.h"
#include "command_line.h"
#include "config/launcher_config.h"
#include "vm/variable_expansion.h"
#include "vm/vm_platform.h"

namespace {

constexpr std::string_view kIncludeDirective = "-include-options ";
constexpr std::string_view kReplacementDirective = "-classpath ";
constexpr std::string_view kPrefixDirective = "-classpath/p ";
constexpr std::string_view kSuffixDirective = "-classpath/a ";
constexpr std::string_view kClassPathOption = "-Djava.class.path=";

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// Include files are told apart by their full path; Windows names ignore letter case.
bool sameFile(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

void includeOptionsFile(const char* basePath, const std::string& name, VmOptionList& list,
                        ClassPathOverrides& overrides, IncludeChain& chain) {
  std::string expanded = name;
  fitTextBuffer(expanded);
  expandVariables(expanded);
  std::string resolved = vmResolveAgainstExeDir(expanded, basePath);
  std::string identity = vmMakeAbsolutePath(resolved);
  for (const std::string& open : chain.files) {
    if (sameFile(open, identity)) {
      logError("vmoptions file <%s> includes itself; not read again", resolved.c_str());
      return;
    }
  }
  if (chain.files.size() >= kMaxIncludeDepth) {
    logError("vmoptions includes nested deeper than %u files; <%s> not read", static_cast<unsigned>(kMaxIncludeDepth),
             resolved.c_str());
    return;
  }
  std::FILE* file = std::fopen(resolved.c_str(), "rt");
  logInfo("adding vmoptions from <%s> (%s) (%p)", resolved.c_str(), expanded.c_str(), static_cast<void*>(file));
  if (file == nullptr) return;
  chain.files.push_back(identity);
  readVmOptionsFile(resolved.c_str(), file, list, overrides, chain);
  chain.files.pop_back();
}

std::string toAnsiOption(std::u16string_view text) {
  std::string option = vmUtf16ToAnsi(text);
  fitTextBuffer(option);
  return option;
}

}  // namespace

bool trimOptionLine(std::string& line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  std::size_t begin = line.find_first_not_of(' ');
  if (begin == std::string::npos) {
    line.clear();
    return false;
  }
  std::size_t end = line.find_last_not_of(' ');
  line = line.substr(begin, end - begin + 1);
  return line[0] != '#';
}

OptionLineKind classifyOptionLine(std::string_view line, std::string& rest) {
  struct Directive {
    std::string_view prefix;
    OptionLineKind kind;
  };
  static constexpr Directive kDirectives[] = {
      {kIncludeDirective, OptionLineKind::Include},
      {kReplacementDirective, OptionLineKind::Replacement},
      {kPrefixDirective, OptionLineKind::Prefix},
      {kSuffixDirective, OptionLineKind::Suffix},
  };
  for (const Directive& directive : kDirectives) {
    if (startsWith(line, directive.prefix)) {
      rest = std::string(line.substr(directive.prefix.size()));
      return directive.kind;
    }
  }
  rest = std::string(line);
  return OptionLineKind::Option;
}

std::vector<std::string> configuredOptionLines(const std::vector<std::string>& tokens) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i] == "-include-options" && i + 1 < tokens.size()) {
      lines.push_back(tokens[i] + " " + tokens[i + 1]);
      ++i;
    } else {
      lines.push_back(tokens[i]);
    }
  }
  return lines;
}

bool isJArgument(std::u16string_view argument) {
  return argument.size() >= 2 && argument[0] == u'-' && argument[1] == u'J';
}

std::vector<ClassPathItem> parseClassPathItems(std::string_view value) {
  std::vector<ClassPathItem> items;
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t end = value.find(kPathListSeparator, start);
    if (end == std::string_view::npos) end = value.size();
    std::string_view item = value.substr(start, end - start);
    if (!item.empty()) {
      ClassPathItem parsed{item[0], item.size() >= 2 && item[1] == '1',
                           item.size() > 2 ? std::string(item.substr(2)) : std::string()};
      items.push_back(parsed);
    }
    start = end + 1;
  }
  return items;
}

void ClassPathBuffer::extend(std::string_view more) { text.append(more); }

std::string fitPathList(std::string_view list, char sep, std::size_t room, std::vector<std::string>& dropped) {
  if (list.size() <= room) return std::string(list);
  std::string kept;
  bool first = true;
  for (;;) {
    std::size_t end = list.find(sep);
    std::string_view element = list.substr(0, end);
    if (kept.size() + (first ? 0 : 1) + element.size() <= room) {
      if (!first) kept += sep;
      kept.append(element);
      first = false;
    } else if (!element.empty()) {
      dropped.emplace_back(element);
    }
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return kept;
}

bool ClassPathBuffer::endsWithSeparator() const { return !text.empty() && text.back() == kPathListSeparator; }

void handleVmOptionLine(const char* basePath, const std::string& line, VmOptionList& list,
                        ClassPathOverrides& overrides, IncludeChain& chain) {
  std::string rest;
  switch (classifyOptionLine(line, rest)) {
    case OptionLineKind::Include:
      includeOptionsFile(basePath, rest, list, overrides, chain);
      break;
    case OptionLineKind::Replacement:
      overrides.replacement = rest;
      break;
    case OptionLineKind::Prefix:
      overrides.prefix = rest;
      break;
    case OptionLineKind::Suffix:
      overrides.suffix = rest;
      break;
    case OptionLineKind::Option:
      list.push_back(line);
      break;
  }
}

void readVmOptionsFile(const char* basePath, std::FILE* file, VmOptionList& list, ClassPathOverrides& overrides,
                       IncludeChain& chain) {
  if (file == nullptr) return;
  // Lines longer than the buffer arrive in pieces, each treated as a line of its own.
  char buffer[kTextBufferSize];
  while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
    std::string line(buffer);
    if (!trimOptionLine(line)) continue;
    expandVariables(line);
    handleVmOptionLine(basePath, line, list, overrides, chain);
  }
  std::fclose(file);
}

void addConfiguredVmOptions(const std::vector<std::u16string>& arguments, VmOptionList& list,
                            ClassPathOverrides& overrides) {
  std::string parameters = config::vmParameters();
  expandVariables(parameters);
  std::vector<std::u16string> wideTokens;
  splitCommandLine(vmAnsiToUtf16(parameters), wideTokens);
  std::vector<std::string> tokens;
  for (const std::u16string& token : wideTokens) tokens.push_back(toAnsiOption(token));
  logInfo("adding options\n");
  IncludeChain chain;
  for (const std::string& line : configuredOptionLines(tokens)) handleVmOptionLine(nullptr, line, list, overrides, chain);
  if (config::dropJArguments() == 0) return;
  // "-J" options are taken as written: no variable expansion.
  for (const std::u16string& argument : arguments) {
    if (isJArgument(argument)) handleVmOptionLine(nullptr, toAnsiOption(argument.substr(2)), list, overrides, chain);
  }
}

std::FILE* openDefaultVmOptionsFile(std::string* openedPath) {
  std::string exe = vmExecutablePath();
  std::string longPath = vmLongPathName(exe);
  std::string first = longPath.substr(0, longPath.size() >= 4 ? longPath.size() - 4 : 0) + ".vmoptions";
  std::FILE* file = std::fopen(first.c_str(), "rt");
  logInfo("vmoptions: exe file: %s, long: %s, opts1: %s, file: %p", exe.c_str(), longPath.c_str(), first.c_str(),
          static_cast<void*>(file));
  std::string opened = first;
  if (file == nullptr) {
    opened = longPath + ".vmoptions";
    file = std::fopen(opened.c_str(), "rt");
    logInfo("vmoptions: opts2: %s, file: %p", opened.c_str(), static_cast<void*>(file));
  }
  if (file != nullptr && openedPath != nullptr) *openedPath = opened;
  return file;
}

bool addArchivesOfDirectory(ClassPathBuffer& buffer, const std::string& directory, const char* extension) {
  if (!vmPathExists(directory)) return false;
  for (const std::string& name : vmListDirectory(directory, extension)) {
    buffer.extend(vmResolveAgainstExeDir(directory + kDirectorySeparator + name, nullptr));
    buffer.extend(std::string(1, kPathListSeparator));
  }
  return true;
}

void appendConfiguredClassPath(ClassPathBuffer& buffer) {
  std::string value = config::classPath();
  logInfo("classpath entry %s", value.c_str());
  const std::string separator(1, kPathListSeparator);
  for (const ClassPathItem& item : parseClassPathItems(value)) {
    if (item.text.empty()) {
      logError("class path item %c%s names nothing; skipped", item.kind, item.mandatory ? "1" : "");
      continue;
    }
    std::string text = item.text;
    expandVariables(text);
    bool found = false;
    bool variableDefined = true;
    switch (item.kind) {
      case 'S': {
        std::string directory = vmResolveAgainstExeDir(text, nullptr);
        bool jars = addArchivesOfDirectory(buffer, directory, "jar");
        bool zips = addArchivesOfDirectory(buffer, directory, "zip");
        found = jars || zips;
        break;
      }
      case 'D':
      case 'A': {
        std::string resolved = vmResolvePathList(text);
        buffer.extend(resolved);
        buffer.extend(separator);
        found = vmPathExists(resolved);
        break;
      }
      case 'E': {
        std::string variable;
        variableDefined = vmGetEnvironment(text.c_str(), variable);
        if (variable.size() > kTextBufferSize - 1) {
          fitTextBuffer(variable);
          logError("value of %s cut to %u bytes", text.c_str(), static_cast<unsigned>(kTextBufferSize - 1));
        }
        found = variableDefined && !variable.empty();
        if (variable.size() >= 2 && variable.front() == '"' && variable.back() == '"') {
          variable = variable.substr(1, variable.size() - 2);
        }
        if (!variable.empty()) {
          buffer.extend(variable);
          if (variable.back() != kPathListSeparator) buffer.extend(separator);
        }
        break;
      }
      default:
        logError("class path item of unknown kind %c: %s", item.kind, text.c_str());
        break;
    }
    if (!item.mandatory || found) continue;
    logError("mandatory class path item not found: %s", text.c_str());
    // An empty variable is as useless as a missing one: both are reported by name.
    if (item.kind == 'E') vmFatalConfigError(entry::kUndefinedVariableText, text.c_str());
    vmFatalConfigError(entry::kFileNotFoundText, text.c_str());
  }
}

void buildVmInitArgs(JavaVMInitArgs& initArgs, const char* const* firstOptions,
                     const std::vector<std::u16string>& arguments) {
  // Never freed: the VM may refer to its option strings for the life of the process.
  static auto* kept = new std::vector<std::pair<VmOptionList*, JavaVMOption*>>;
  VmOptionList& list = *new VmOptionList;
  ClassPathOverrides overrides;
  for (const char* const* option = firstOptions; option && *option; ++option) list.push_back(*option);
  addConfiguredVmOptions(arguments, list, overrides);

  std::string defaultPath;
  std::FILE* defaultFile = openDefaultVmOptionsFile(&defaultPath);
  logInfo("default vmoptions file: %p", static_cast<void*>(defaultFile));
  IncludeChain chain;
  if (defaultFile != nullptr) chain.files.push_back(vmMakeAbsolutePath(defaultPath));
  readVmOptionsFile(nullptr, defaultFile, list, overrides, chain);

  const std::string separator(1, kPathListSeparator);
  ClassPathBuffer classPath;
  if (overrides.prefix) {
    classPath.extend(*overrides.prefix);
    classPath.extend(separator);
  }
  std::string tempDir = vmTempDir();
  if (!tempDir.empty()) {
    addArchivesOfDirectory(classPath, tempDir, "jar");
    addArchivesOfDirectory(classPath, tempDir, "zip");
    std::string user = tempDir + kDirectorySeparator + "user";
    addArchivesOfDirectory(classPath, user, "jar");
    addArchivesOfDirectory(classPath, user, "zip");
  }
  if (overrides.replacement) {
    classPath.extend(*overrides.replacement);
  } else {
    appendConfiguredClassPath(classPath);
  }
  if (overrides.suffix) {
    if (!classPath.endsWithSeparator()) classPath.extend(separator);
    classPath.extend(*overrides.suffix);
  }
  std::vector<std::string> dropped;
  std::string fitted =
      fitPathList(classPath.text, kPathListSeparator, kClassPathBufferSize - 1 - kClassPathOption.size(), dropped);
  for (const std::string& element : dropped) {
    logError("Class path element left out, the class path is full: %s", element.c_str());
  }
  list.push_back(std::string(kClassPathOption) + fitted);

  initArgs = JavaVMInitArgs();
  initArgs.version = JNI_VERSION_1_2;
  initArgs.ignoreUnrecognized = JNI_TRUE;
  initArgs.nOptions = static_cast<jint>(list.size());
  initArgs.options = new JavaVMOption[list.size()];
  kept->emplace_back(&list, initArgs.options);
  logInfo("vmoption count %d", static_cast<int>(list.size()));
  for (std::size_t i = 0; i < list.size(); ++i) {
    logInfo("vmoption %d: %s", static_cast<int>(i), list[i].c_str());
    initArgs.options[i].optionString = &list[i][0];
    initArgs.options[i].extraInfo = nullptr;
  }
}
