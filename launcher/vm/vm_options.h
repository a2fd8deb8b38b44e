// The VM's option list: launch properties, configured and "-J" options, .vmoptions files with
// their includes, and the class-path option composed last.
#pragma once
#include <jni.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Options in the order the VM receives them. Never reordered or de-duplicated.
using VmOptionList = std::vector<std::string>;

// Set by "-classpath ", "-classpath/p " and "-classpath/a " lines; a later one replaces the earlier.
struct ClassPathOverrides {
  std::optional<std::string> replacement;
  std::optional<std::string> prefix;
  std::optional<std::string> suffix;
};

// The .vmoptions files being read, outermost first: guards against include cycles and chains
// deeper than kMaxIncludeDepth files.
struct IncludeChain {
  std::vector<std::string> files;
};
constexpr std::size_t kMaxIncludeDepth = 16;

// --- rules (no I/O) ---------------------------------------------------------------------------

// The .vmoptions line rule: line breaks and trailing spaces removed, leading spaces (0x20 only)
// skipped. False when the line is then empty or a "#" comment.
bool trimOptionLine(std::string& line);

enum class OptionLineKind { Include, Replacement, Prefix, Suffix, Option };
// Which directive a line is; rest receives the text after the directive (the whole line for
// a plain option).
OptionLineKind classifyOptionLine(std::string_view line, std::string& rest);

// The configured options' tokens as option lines: "-include-options" joins the token after it
// unless it is the last token.
std::vector<std::string> configuredOptionLines(const std::vector<std::string>& tokens);

// Whether a command-line argument is a "-J" VM option (for the option list and for leaving it
// out of the program's arguments).
bool isJArgument(std::u16string_view argument);

// One item of the configured class path: kind letter, mandatory marker, text.
struct ClassPathItem {
  char kind;
  bool mandatory;
  std::string text;
};
// Items of the classPath entry; empty items are skipped. An item of a single character has an
// optional marker and empty text.
std::vector<ClassPathItem> parseClassPathItems(std::string_view value);

// The class path under construction; fitted to its buffer once it is complete.
struct ClassPathBuffer {
  std::string text;
  void extend(std::string_view more);
  bool endsWithSeparator() const;
};

// A list of elements separated by sep made to fit room characters: elements that do not fit are
// left out whole (never cut inside), each named in dropped; a later element that still fits
// stays. A list that fits is returned unchanged, empty elements included.
std::string fitPathList(std::string_view list, char sep, std::size_t room, std::vector<std::string>& dropped);

// --- steps ------------------------------------------------------------------------------------

// Classifies one option line: include, one of the three overrides, or a plain option.
void handleVmOptionLine(const char* basePath, const std::string& line, VmOptionList& list,
                        ClassPathOverrides& overrides, IncludeChain& chain);
// Reads an open text file's lines (null does nothing) and closes it.
void readVmOptionsFile(const char* basePath, std::FILE* file, VmOptionList& list, ClassPathOverrides& overrides,
                       IncludeChain& chain);
// The options of vmParameters (entry 123) and, with dropJArguments, the "-J" arguments.
void addConfiguredVmOptions(const std::vector<std::u16string>& arguments, VmOptionList& list,
                            ClassPathOverrides& overrides);
// <executable without .exe>.vmoptions, else <executable>.vmoptions; null when neither opens.
// The opened file's path goes to openedPath when asked.
std::FILE* openDefaultVmOptionsFile(std::string* openedPath = nullptr);
// Appends directory\name; for every name matching *.extension; false when the directory is missing.
bool addArchivesOfDirectory(ClassPathBuffer& buffer, const std::string& directory, const char* extension);
// Appends the items of classPath (entry 121); a missing mandatory item ends the process.
void appendConfiguredClassPath(ClassPathBuffer& buffer);
// The whole option list; firstOptions is null-terminated. The list and the option array stay
// allocated for the life of the process (the VM may keep pointers into them).
void buildVmInitArgs(JavaVMInitArgs& initArgs, const char* const* firstOptions,
                     const std::vector<std::u16string>& arguments);
