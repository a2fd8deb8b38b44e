// The script that a test lays beside a runtime double: "runtime_double.cfg", found by walking up
// from the directory of the double's own module, so that one file serves java.exe, javaw.exe and
// bin\<type>\jvm.dll of a runtime home (and of a development kit's embedded jre\).
#pragma once
#include <windows.h>

#include <map>
#include <string>

struct DoubleScript {
  // Directory holding the script file, with a final backslash; empty when none was found.
  std::wstring directory;
  std::map<std::string, std::string> values;

  std::string get(const std::string& key, const std::string& fallback) const;
  int getInt(const std::string& key, int fallback) const;
  // An absolute path from the script, or the named file in the script's directory; empty when
  // there is no script (then nothing is recorded).
  std::wstring fileFor(const std::string& key, const wchar_t* defaultName) const;
};

// Reads the script for the module that contains `addressInModule`.
DoubleScript loadDoubleScript(const void* addressInModule);

// Appends bytes to a file, creating it; each call is one write.
void appendToFile(const std::wstring& path, const std::string& bytes);
// Replaces a file's content.
void writeWholeFile(const std::wstring& path, const std::string& bytes);

// UTF-8 to UTF-16 and back, for paths and trace texts.
std::wstring widen(const std::string& utf8);
std::string utf8Of(const std::wstring& text);
