// Layout of the data appended to the launcher executable and its one reader, shared by the
// launcher, the packaging tool (which also writes it) and the fuzz targets: PE lookup, header,
// configuration record, included-file table and mask, read from any byte source.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_record.h"

constexpr uint32_t kMediaMagic = 0xE8E413D5u;
constexpr std::size_t kMediaHeaderSize = 20;
// Every byte of every included file is stored combined with this mask by exclusive or.
constexpr uint8_t kIncludedFileMask = 0x88;

// The first 20 bytes of the appended data.
struct MediaHeader {
  uint32_t magic = kMediaMagic;
  int32_t checksumFlag = 1;     // non-zero: the stored checksum is verified
  uint32_t storedChecksum = 0;  // CRC-32 of checkedLength bytes from the end of the header
  int64_t checkedLength = 0;
};

// A little-endian integer of T's width from the bytes.
template <typename T>
T decodeLittleEndian(const uint8_t* bytes) {
  uint64_t v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) v |= uint64_t(bytes[i]) << (8 * i);
  return static_cast<T>(v);
}

// The primitive readers a record parser needs. A failed read throws MediaFormatError: the
// launcher then ends the process with the reader's own message, the packaging tool reports it.
class RecordReader {
 public:
  virtual ~RecordReader() = default;
  virtual int16_t readShort() = 0;
  virtual int32_t readInt() = 0;
  virtual int64_t readLong() = 0;
  virtual std::string readString() = 0;
  virtual std::u16string readWString() = 0;
};

// Which reader failed, for the message "Internal Error: readInt" and the like.
enum class ReaderKind { Short, Int, Long, String, WString };
const char* readerFailureText(ReaderKind kind);
struct MediaFormatError {
  ReaderKind kind;
};

// Random access to the bytes of a stub or an installer: in memory, a file on disk, or the
// launcher's own executable. Each kind of source hands its read function to this base, so the
// reader below calls only what this file defines, whichever source lies under it.
class ByteSource {
 public:
  // Reads exactly n bytes at pos of the source; false when it ends first or the read fails.
  using ReadFunction = bool (*)(ByteSource& source, uint64_t pos, void* dst, std::size_t n);

  virtual ~ByteSource() = default;
  uint64_t byteLength() const { return length_; }
  bool bytesAt(uint64_t pos, void* dst, std::size_t n) { return read_(*this, pos, dst, n); }
  // Whether n bytes at pos lie inside the source.
  bool holds(uint64_t pos, uint64_t n) const { return pos <= length_ && n <= length_ - pos; }

 protected:
  ByteSource(uint64_t length, ReadFunction read) : length_(length), read_(read) {}
  ByteSource(const ByteSource&) = default;
  ByteSource& operator=(const ByteSource&) = default;

  uint64_t length_;

 private:
  ReadFunction read_;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const void* data, std::size_t size)
      : ByteSource(size, &MemorySource::readMemory), data_(static_cast<const uint8_t*>(data)) {}

 private:
  static bool readMemory(ByteSource& source, uint64_t pos, void* dst, std::size_t n);
  const uint8_t* data_;
};

// The primitive readers over a source, from a current position. Byte counts of strings that are
// negative or run past the end of the source are refused before anything is allocated; an odd
// wide byte count drops its last byte.
class SourceReader : public RecordReader {
 public:
  SourceReader(ByteSource& source, uint64_t position) : source_(source), pos_(position) {}
  int16_t readShort() override;
  int32_t readInt() override;
  int64_t readLong() override;
  std::string readString() override;
  std::u16string readWString() override;
  uint64_t position() const { return pos_; }

 private:
  void take(void* dst, std::size_t n, ReaderKind kind);
  // A string's byte count, refused when negative or past the end of the source.
  int32_t takeByteCount(ReaderKind kind);
  ByteSource& source_;
  uint64_t pos_;
};

// All four fields in order. The magic is the caller's to judge: the packaging tool still shows
// the rest of a header whose magic is wrong.
MediaHeader readMediaHeader(RecordReader& reader);
ConfigRecord readConfigRecord(RecordReader& reader);

// Little-endian encoders of the writer; the inverse of the readers.
void appendInt(std::string& out, int32_t value);
void appendLong(std::string& out, int64_t value);
void appendString(std::string& out, std::string_view value);
void appendWString(std::string& out, std::u16string_view value);
std::string encodeMediaHeader(const MediaHeader& header);
std::string encodeConfigRecord(const ConfigRecord& record);

// Included files named by entry 2003 (";"-separated) that extraction processes for a count
// (entry 2002): names in order while fewer than count are taken and the next is non-empty.
std::vector<std::string> includedFileList(std::string_view names, int count);

// Whether an included-file name stays inside the extraction directory: relative, no drive,
// no UNC prefix, no ".." component, no device name as a component, not empty.
bool isContainedFileName(std::string_view name);

// Whether Windows opens a device for this path component instead of a file ("CON", "nul.txt",
// "Com1 .jar", "LPT" with a superscript digit): a reserved name before the first dot, blanks
// before the dot ignored, any letter case. Writing to such a name sends the bytes to a port or a console.
bool isDeviceName(std::string_view component);

// Number of directory levels in a relative name ("user\a.jar" has one).
int directoryLevels(std::string_view name);

// One entry of the included-file table: an 8-byte size, then that many masked bytes (none when
// the size is not positive).
struct FileTableEntry {
  uint64_t sizeOffset = 0;
  int64_t size = 0;
  uint64_t dataOffset = 0;    // just after the size field
  uint64_t end = 0;           // where the next entry's size field lies
  bool withinSource = false;  // whether the data ends inside the source
};
// The entry whose size field lies at `at`; throws MediaFormatError (readLong) when the field is
// cut short.
FileTableEntry readFileTableEntry(ByteSource& source, uint64_t at);

// The PE header fields that place the appended data, for logging and for the writer.
struct PeLayout {
  uint32_t peOffset = 0;
  uint16_t sectionCount = 0;
  uint16_t optionalHeaderSize = 0;
  uint32_t lastSectionEntry = 0;  // file position of the last section-table entry
  uint32_t lastRawSize = 0;
  uint32_t lastRawPointer = 0;
  uint32_t fileAlignment = 0;
  // The appended data begins at the end of the last section-table entry's raw data.
  uint64_t appendedDataStart() const { return uint64_t(lastRawPointer) + lastRawSize; }
};
// Reads only the fields the layout needs, each where it lies, without loading the image; false
// when the source is not a PE image or its section table runs past the end.
bool readPeLayout(ByteSource& source, PeLayout& layout);

// Maps a Windows LCID to the language code that selects language groups; nullptr when the
// table knows neither the LCID nor its primary language.
const char* localeCodeForLcid(uint32_t lcid);
