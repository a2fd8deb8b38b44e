// Path rules of the launcher that need no file system: absolute tests, backslash collapsing,
// directory parts and ";"-separated path lists.
#pragma once
#include <string>
#include <string_view>
#include <vector>

// True unless the path is drive-absolute ("X:\...") or UNC ("\\..."). One leading double
// quote is skipped; anything shorter than 3 characters, and a single leading backslash, is relative.
bool isRelativePath(std::string_view path);

// Repeated backslashes reduced to one, except a leading pair (a UNC prefix survives).
std::u16string collapseBackslashes(std::u16string_view path);

// "X:\", "X:\." or "X:\.\." exactly: a drive root that exists without asking the file system.
bool isDriveRootSpec(std::string_view path);

// The directory and the name with exactly one backslash between them, whether or not the
// directory ends in one ("c:\temp" and "c:\temp\" both give "c:\temp\name").
std::string joinPath(std::string_view directory, std::string_view name);

// Everything up to and including the last backslash; empty when there is none.
std::string directoryPart(std::string_view path);

// ASCII letters in lower case, every other byte as it is: how the launcher compares file names
// whatever the code page.
char lowerAscii(char c);
std::string lowerAscii(std::string_view text);

// Elements of a ";"-separated list, up to (not including) the first empty element.
std::vector<std::string> splitPathList(std::string_view list);

// Elements joined with ";" and no trailing separator.
std::string joinPathList(const std::vector<std::string>& elements);

// Search pattern for the entries of a directory with an extension: dir\*.ext
// (the "." is not doubled when the extension already starts with one).
std::string directorySearchPattern(std::string_view directory, std::string_view extension);
