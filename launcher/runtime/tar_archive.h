// Reads the carried runtime's tar archive: ustar headers, the octal size rule, entry names that
// must stay below the target directory, and the walk over a whole archive, with the bytes and
// the file system supplied by the caller (zlib and Win32 in the launcher, memory in tests).
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

constexpr std::size_t kTarBlockSize = 512;
constexpr std::size_t kTarNameLength = 100;

// Value of an octal text field: leading spaces and "0" characters skipped, then digits up to a
// zero byte, a space or the end of the field. nullopt for a character that is not an octal digit
// and for a value that does not fit 64 bits, so a hostile field cannot pass for a small size.
std::optional<uint64_t> parseOctalField(const char* text, std::size_t length);

enum class TarEntryType { Directory, File, Other };

struct TarHeader {
  bool magic = false;            // "ustar" at offset 257; the archive ends at the first block without it
  std::string name;              // the name field, at most 100 bytes even without a terminating zero
  std::optional<uint64_t> size;  // nullopt when the size field is not an octal number
  TarEntryType type = TarEntryType::Other;
};

// Decodes one header block of kTarBlockSize bytes.
TarHeader parseTarHeader(const unsigned char* block);

// The entry's path below the target: "\" separators, "." and empty components dropped, ""
// for the target itself. nullopt when the name would leave the target (absolute, a drive or
// stream ":", a leading separator, a ".." component or one of dots and spaces only) or cannot
// be a plain Windows file name (device names, control and wildcard characters).
std::optional<std::string> tarEntryPath(std::string_view name);

// Progress bar position for done of total uncompressed bytes: 100 to 200. A total of 0
// (no size configured) keeps the bar at 100.
int untarProgressPosition(uint64_t done, uint64_t total);

// Bytes of the uncompressed archive.
class TarInput {
 public:
  virtual ~TarInput() = default;
  // Up to n bytes; fewer only at the end of the data; -1 on a read error.
  virtual int read(void* dst, unsigned n) = 0;
};

// Where the walk writes, logs and reports progress.
class TarOutput {
 public:
  virtual ~TarOutput() = default;
  virtual void info(const std::string& line) = 0;
  virtual void error(const std::string& line) = 0;
  // Failures are not reported: a file that needs the directory fails when it is opened.
  virtual void createDirectory(const std::string& path) = 0;
  // Replaces an existing file. The launcher ends the process when it cannot.
  virtual bool openFile(const std::string& path) = 0;
  virtual bool writeFile(const void* data, std::size_t n) = 0;
  // Closes the open file; keep false removes it (an entry that failed half-way).
  virtual bool closeFile(bool keep) = 0;
  // bytesRead of the uncompressed archive so far; entryStart at the start of each regular file,
  // otherwise after each block written (the receiver decides how often to show it).
  virtual void progress(uint64_t bytesRead, bool entryStart) = 0;
};

// Counts the uncompressed bytes read, which is the position the progress bar shows.
class TarReader {
 public:
  explicit TarReader(TarInput& input) : input_(input) {}
  // Reads until n bytes or the end of the data: the count, or -1 on a read error.
  long read(void* dst, std::size_t n);
  // Reads and discards n bytes; false when the data ends first or a read fails.
  bool skip(uint64_t n);
  uint64_t position() const { return position_; }

 private:
  TarInput& input_;
  uint64_t position_ = 0;
};

// Copies size bytes of the current entry into a new file at path. A stream that ends or fails
// inside the entry fails it, and the partial file is removed.
bool extractTarEntry(TarReader& reader, TarOutput& output, const std::string& path, uint64_t size);

// Writes the directories and regular files of the archive below the output's target. Other
// entry types are skipped with their data. True when the archive ended (end of data, or a block
// without the magic) after at least one regular file was written.
bool untarStream(TarInput& input, TarOutput& output);
