// The runtime an installer carries: a directory written as the launcher's "jre.tar.gz" (ustar,
// each directory listed before what it holds), or a given archive checked against the rules
// the launcher will apply when it unpacks it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The name the launcher looks for among the extracted files.
constexpr const char* kRuntimeArchiveName = "jre.tar.gz";

struct RuntimeArchive {
  uint64_t uncompressedSize = 0;  // the whole tar stream, end blocks included (entry 151)
  uint64_t fileCount = 0;
  bool packed = false;             // the pack200 list is still packed (entry 153)
  bool hasUnpack200 = false;       // bin/unpack200.exe, at the top or below "jre/"
  // The first VM library found ("bin/client/jvm.dll" or "bin/server/jvm.dll", at the top or below
  // "jre/") and the first bytes of its image, enough for its PE header; empty when it has none.
  std::string vmLibrary;
  std::string vmLibraryHead;
};

// Whether a stored name (lower case, "/" separators) is a VM library the launcher loads.
bool isVmLibraryName(const std::string& lowerName);

// One ustar header block (512 bytes) with its checksum. name is ANSI with "/" separators, a
// directory's ending in "/". Throws PackError when the name does not fit the 100-byte field or
// the size the 11-digit octal field.
std::string ustarHeader(const std::string& name, uint64_t size, bool directory, uint64_t mtime);

// Whether a runtime whose entries (lower case, "/" separators, directories ending in "/") are
// listed still needs its pack200 archives unpacked: "lib/rt.jar.pack" without "lib/jsse.jar",
// at the top or below "jre/" as in a development kit.
bool isPackedRuntime(const std::vector<std::string>& lowerNames);

// Whether the listed entries hold bin/unpack200.exe at the top or below "jre/".
bool hasUnpack200(const std::vector<std::string>& lowerNames);

// Writes the directory tree as a gzip-compressed tar archive. Regular files and directories
// only: symbolic links to files are stored as the file, anything else is refused with
// PackError, as are names the launcher would refuse or could not store.
RuntimeArchive writeRuntimeArchive(const std::string& dir, const std::string& archivePath);

// Decompresses and walks a gzip-compressed tar archive as the launcher will, writing nothing.
// Throws PackError with the launcher's reason when it would fail to unpack it.
RuntimeArchive checkRuntimeArchive(const std::string& archivePath);

// The packaging configuration (JSON text) with the runtime archive added as the last included
// file (also to explicit entries 2002 and 2003), entry 151 set to its uncompressed size and entry
// 153 to "1" when it is packed, unless the configuration sets them; a set value that disagrees
// with the archive is kept and reported in warnings. Throws PackError when the configuration
// already includes a "jre.tar.gz".
std::string addCarriedRuntime(const std::string& configJson, const RuntimeArchive& runtime,
                              std::vector<std::string>& warnings);
