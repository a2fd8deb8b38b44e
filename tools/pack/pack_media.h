// The packaging tool's view of a whole media file: where each part of the appended data goes,
// whether a stub can take a payload, and how the launcher will walk, check and unpack it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/media_format.h"

// Zero bytes needed after `end` to reach a multiple of `alignment`.
uint64_t paddingLength(uint64_t end, uint32_t alignment);

// Combines bytes with the included-file mask; the same call masks and unmasks.
void maskBytes(uint8_t* data, std::size_t n);

// Absolute file positions of everything the writer appends to a stub of stubSize bytes.
struct MediaPlan {
  uint64_t headerOffset = 0;
  uint64_t recordOffset = 0;
  std::vector<uint64_t> fileOffsets;  // each file's 8-byte size field; its data follows
  uint64_t javaDataOffset = 0;
  uint64_t coveredEnd = 0;  // end of the bytes the checksum covers
  int64_t checkedLength = 0;
  uint64_t padding = 0;
  uint64_t totalSize = 0;
};
MediaPlan planMedia(uint64_t stubSize, uint32_t fileAlignment, uint64_t recordSize,
                    const std::vector<uint64_t>& fileSizes, uint64_t javaDataSize);

// Where the writer puts its bytes: sequential writes, then the header patched in place.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void write(const void* data, std::size_t n) = 0;
  virtual void writeAt(uint64_t pos, const std::string& bytes) = 0;
};

struct MediaInputs {
  ByteSource* stub = nullptr;
  uint32_t fileAlignment = 0;  // from the stub's PE header
  std::string record;          // encoded configuration record
  std::vector<ByteSource*> files;
  ByteSource* javaData = nullptr;  // optional
  bool checksum = true;            // false writes checksum flag 0
  // Where the stub's PE checksum lies, when it carries one (0: none): it is then rewritten to
  // hold for the whole installer.
  uint64_t peChecksumField = 0;
};
// Writes the stub's bytes unchanged, then header, record, masked files, Java-side data and
// zero padding, streaming each input once. Throws PackError when an input cannot be read.
struct WrittenMedia {
  MediaPlan plan;
  MediaHeader header;
};
WrittenMedia writeMedia(const MediaInputs& inputs, ByteSink& out);

// The Authenticode signature of a PE image, from its security data directory (whose address,
// unlike the other directories', is a file position). Signing tools append it after everything
// else, so it lies outside the bytes the installer's checksum covers.
struct SignatureView {
  bool present = false;  // the directory exists and is not empty
  uint64_t offset = 0;
  uint32_t size = 0;
};
// Absent for an image whose optional header is neither PE32 nor PE32+ or has no such directory.
SignatureView readSignature(ByteSource& source, const PeLayout& layout);

// The PE checksum (the optional header's CheckSum) of a whole file, fed in pieces at their
// positions in any order; the four bytes of the field itself count as zero. Signing tools and
// some scanners compare it with the file.
class PeChecksum {
 public:
  explicit PeChecksum(uint64_t fieldPosition) : field_(fieldPosition) {}
  void addBytes(uint64_t position, const void* data, std::size_t n);
  uint32_t sumFor(uint64_t fileSize) const;

 private:
  uint64_t field_;
  uint64_t sum_ = 0;
};
// Where an image's CheckSum field lies; false when it has no PE32 or PE32+ optional header.
bool peChecksumField(ByteSource& source, const PeLayout& layout, uint64_t& position);

// Why a stub cannot take a payload, or "" when it can; fills layout either way it can.
std::string stubProblem(ByteSource& stub, PeLayout& layout);

// The last value of a narrow entry, as the launcher's loader leaves it; nullptr when absent.
const std::string* lastNarrowValue(const ConfigRecord& record, int32_t id);

struct IncludedFileEntry {
  std::string name;         // as stored in entry 2003 (ANSI)
  uint64_t sizeOffset = 0;  // absolute position of the 8-byte size
  int64_t size = 0;
};

// A media file as the launcher walks it. problems says where and why the walk stopped short.
struct MediaInspection {
  uint64_t fileSize = 0;
  PeLayout pe;
  SignatureView signature;
  uint64_t appendedStart = 0;
  MediaHeader header;
  bool recordRead = false;
  ConfigRecord record;
  uint64_t configEnd = 0;
  int fileCount = 0;  // entry 2002
  std::vector<IncludedFileEntry> files;
  bool filesWalked = false;
  uint64_t javaDataOffset = 0;       // first byte after the walked files
  uint64_t unextractedPosition = 0;  // what the launcher hands on: 0 when it extracts nothing
  // A negative checked length covers nothing: trailingBytes and javaDataSize are then left 0.
  bool checkedLengthValid = false;
  int64_t trailingBytes = 0;  // after the checked length; negative when the file is short
  // From javaDataOffset to the end of the checked length; negative when the walked files
  // already reach past it.
  int64_t javaDataSize = 0;
  std::vector<std::string> problems;
};
// Throws PackError when the source is not a PE image or carries no appended data.
MediaInspection inspectMedia(ByteSource& source);

struct VerifyResult {
  bool ok = false;
  std::string message;
};
// The launcher's integrity check: magic, checksum flag, CRC-32 over the checked length.
VerifyResult verifyMedia(ByteSource& source);
