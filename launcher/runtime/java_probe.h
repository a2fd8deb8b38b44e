// Tests a candidate Java executable: it must exist and its version, learned from the per-user
// version cache or by running it with "-version", must lie within the bounds.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

#include "runtime/version_rules.h"

// Whether checkJavaExe may answer from the version cache. testJavaExe sets it for one test;
// true between tests. Launch-sequence thread only.
extern bool g_useVersionCache;

// checkJavaExe with the cache allowed or bypassed for this one test; the version learned (empty
// when none) goes to versionFound when given.
bool testJavaExe(std::string& exePath, const std::string& min, const std::string& max, bool allowPreRelease,
                 bool useCache, std::string* versionFound = nullptr);

// On return exePath is absolute and lower-cased, and names javaw.exe when entry 107 is 1 and the
// test succeeded.
bool checkJavaExe(std::string& exePath, std::string& version, const std::string& min, const std::string& max,
                  bool allowPreRelease);

// The configured way of comparing versions (entry 163).
VersionScheme configuredVersionScheme();

// The version a runtime's "release" file gives (JAVA_VERSION) for a Java executable, read
// without starting anything; none when there is no such file or it gives no version.
std::optional<std::string> readReleaseVersion(const std::string& exePath);

// Why checkJavaExe refused a runtime whose version (possibly empty) it learned, for the log.
std::string refusalReason(const std::string& version, const std::string& min, const std::string& max,
                          bool allowPreRelease);

// The bounds and, unless allowPreRelease or entry 130 allows it, the pre-release rule.
bool acceptVersion(const std::string& version, const std::string& min, const std::string& max,
                   bool allowPreRelease);

// Runs the executable hidden with "-version" and reads the version from the first line of its
// error stream. A non-zero exit caches the dummy version; a run over the time limit is
// terminated. The output file is deleted on every path.
bool runJavaVersion(const std::string& exePath, const FILETIME& lastWriteTime, std::string& version);

// The cached version when the entry's "LastWriteTime" equals lastWriteTime exactly.
bool readCachedVersion(const std::string& exePath, const FILETIME& lastWriteTime, std::string& version);
// Creates or replaces the cache entry; failures are ignored.
void storeCachedVersion(const std::string& exePath, const FILETIME& lastWriteTime, const std::string& version);

// A new, empty file open for reading and writing through an inheritable handle (for a child's
// standard error); INVALID_HANDLE_VALUE on failure.
HANDLE createInheritableFile(const std::string& path);

// GetShortPathNameA for the probe's command line; tests replace it to play a volume without 8.3
// names, which answers with the long path.
using ShortPathNameFunction = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);
extern ShortPathNameFunction g_getShortPathName;

// How long a probe may run: 60 s, or the milliseconds in PATHMERE_PROBE_LIMIT_MS when tests set it.
DWORD probeTimeLimitMs();
