#include "pack/pack_media.h"

#include <zlib.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

#include "config/launcher_config.h"
#include "pack/pack_config.h"

namespace {
std::string hex32(uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(value));
  return buf;
}
}  // namespace

uint64_t paddingLength(uint64_t end, uint32_t alignment) {
  if (alignment <= 1) return 0;
  return (alignment - end % alignment) % alignment;
}

void maskBytes(uint8_t* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) data[i] ^= kIncludedFileMask;
}

MediaPlan planMedia(uint64_t stubSize, uint32_t fileAlignment, uint64_t recordSize,
                    const std::vector<uint64_t>& fileSizes, uint64_t javaDataSize) {
  MediaPlan plan;
  plan.headerOffset = stubSize;
  plan.recordOffset = stubSize + kMediaHeaderSize;
  uint64_t at = plan.recordOffset + recordSize;
  for (uint64_t size : fileSizes) {
    plan.fileOffsets.push_back(at);
    at += 8 + size;
  }
  plan.javaDataOffset = at;
  plan.coveredEnd = at + javaDataSize;
  plan.checkedLength = static_cast<int64_t>(plan.coveredEnd - plan.recordOffset);
  plan.padding = paddingLength(plan.coveredEnd, fileAlignment);
  plan.totalSize = plan.coveredEnd + plan.padding;
  return plan;
}

namespace {
constexpr std::size_t kCopyBlock = 1 << 20;

// Copies a whole source, masking it when asked; the checksum sees the bytes as stored.
void copySource(ByteSink& out, ByteSource& source, bool mask, uLong* crc, uint8_t* block) {
  for (uint64_t done = 0; done < source.byteLength();) {
    std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(kCopyBlock, source.byteLength() - done));
    if (!source.bytesAt(done, block, n)) throw PackError("cannot read " + std::to_string(n) + " bytes at offset " + std::to_string(done));
    if (mask) maskBytes(block, n);
    if (crc) *crc = crc32(*crc, block, static_cast<uInt>(n));
    out.write(block, n);
    done += n;
  }
}

void writeCovered(ByteSink& out, const std::string& bytes, uLong& crc) {
  crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
  out.write(bytes.data(), bytes.size());
}
}  // namespace

// Passes writes on and sums them for the PE checksum. The media header is patched over zeros
// written first, so adding the patch's bytes completes the sum.
class ChecksummingSink : public ByteSink {
 public:
  ChecksummingSink(ByteSink& out, uint64_t field) : checksum(field), out_(out) {}
  void write(const void* data, std::size_t n) override {
    checksum.addBytes(position_, data, n);
    position_ += n;
    out_.write(data, n);
  }
  void writeAt(uint64_t pos, const std::string& bytes) override {
    checksum.addBytes(pos, bytes.data(), bytes.size());
    out_.writeAt(pos, bytes);
  }
  PeChecksum checksum;

 private:
  ByteSink& out_;
  uint64_t position_ = 0;
};

WrittenMedia writeMedia(const MediaInputs& inputs, ByteSink& destination) {
  ChecksummingSink summing(destination, inputs.peChecksumField);
  ByteSink& out = inputs.peChecksumField ? static_cast<ByteSink&>(summing) : destination;
  std::vector<uint64_t> sizes;
  for (ByteSource* file : inputs.files) sizes.push_back(file->byteLength());
  WrittenMedia written;
  written.plan = planMedia(inputs.stub->byteLength(), inputs.fileAlignment, inputs.record.size(), sizes,
                           inputs.javaData ? inputs.javaData->byteLength() : 0);
  std::unique_ptr<uint8_t[]> block(new uint8_t[kCopyBlock]);
  copySource(out, *inputs.stub, false, nullptr, block.get());
  out.write(std::string(kMediaHeaderSize, '\0').data(), kMediaHeaderSize);  // patched once the CRC is known
  uLong crc = crc32(0L, Z_NULL, 0);
  writeCovered(out, inputs.record, crc);
  for (ByteSource* file : inputs.files) {
    std::string size;
    appendLong(size, static_cast<int64_t>(file->byteLength()));
    writeCovered(out, size, crc);
    copySource(out, *file, true, &crc, block.get());
  }
  if (inputs.javaData) copySource(out, *inputs.javaData, false, &crc, block.get());
  out.write(std::string(written.plan.padding, '\0').data(), written.plan.padding);
  written.header.checksumFlag = inputs.checksum ? 1 : 0;
  written.header.storedChecksum = static_cast<uint32_t>(crc);
  written.header.checkedLength = written.plan.checkedLength;
  out.writeAt(written.plan.headerOffset, encodeMediaHeader(written.header));
  if (inputs.peChecksumField) {
    uint32_t value = summing.checksum.sumFor(written.plan.totalSize);
    destination.writeAt(inputs.peChecksumField, std::string{char(value), char(value >> 8), char(value >> 16), char(value >> 24)});
  }
  return written;
}

SignatureView readSignature(ByteSource& source, const PeLayout& layout) {
  constexpr uint32_t kSecurityDirectory = 4;
  SignatureView view;
  uint64_t optional = uint64_t(layout.peOffset) + 24;
  uint8_t magic[2];
  if (!source.bytesAt(optional, magic, sizeof magic)) return view;
  uint16_t kind = decodeLittleEndian<uint16_t>(magic);
  // The directory count and table sit 16 bytes further in a PE32+ header (64-bit ImageBase).
  uint32_t countField = kind == 0x10B ? 92 : kind == 0x20B ? 108 : 0;
  if (countField == 0) return view;
  uint32_t entryField = countField + 4 + kSecurityDirectory * 8;
  if (entryField + 8 > layout.optionalHeaderSize) return view;
  uint8_t count[4];
  uint8_t entry[8];
  if (!source.bytesAt(optional + countField, count, sizeof count) || decodeLittleEndian<uint32_t>(count) <= kSecurityDirectory ||
      !source.bytesAt(optional + entryField, entry, sizeof entry)) {
    return view;
  }
  view.offset = decodeLittleEndian<uint32_t>(entry);
  view.size = decodeLittleEndian<uint32_t>(entry + 4);
  view.present = view.offset != 0 && view.size != 0;
  return view;
}

void PeChecksum::addBytes(uint64_t position, const void* data, std::size_t n) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (std::size_t i = 0; i < n; ++i) {
    uint64_t at = position + i;
    if (at >= field_ && at < field_ + 4) continue;
    // Little-endian 16-bit words: odd positions are high bytes. The sum is folded only at the
    // end, which gives the same one's-complement value as folding after every word.
    sum_ += uint64_t(bytes[i]) << (8 * (at & 1));
  }
}

uint32_t PeChecksum::sumFor(uint64_t fileSize) const {
  uint64_t sum = sum_;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + fileSize);
}

bool peChecksumField(ByteSource& source, const PeLayout& layout, uint64_t& position) {
  uint8_t magic[2];
  uint64_t optional = uint64_t(layout.peOffset) + 24;
  if (!source.bytesAt(optional, magic, sizeof magic)) return false;
  uint16_t kind = decodeLittleEndian<uint16_t>(magic);
  if ((kind != 0x10B && kind != 0x20B) || layout.optionalHeaderSize < 68) return false;
  position = optional + 64;
  return true;
}

std::string stubProblem(ByteSource& stub, PeLayout& layout) {
  if (!readPeLayout(stub, layout)) return "is not a PE image";
  uint32_t alignment = layout.fileAlignment;
  if (alignment == 0 || (alignment & (alignment - 1)) != 0) {
    return "has an invalid FileAlignment (" + std::to_string(alignment) + ") in its PE header";
  }
  uint64_t start = layout.appendedDataStart();
  if (stub.byteLength() < start) {
    return "is cut short: its last section ends at " + std::to_string(start) + " but the file has " +
           std::to_string(stub.byteLength()) + " bytes";
  }
  if (stub.byteLength() > start) {
    uint8_t magic[4];
    if (stub.bytesAt(start, magic, 4) && decodeLittleEndian<uint32_t>(magic) == kMediaMagic) {
      return "already carries a payload (media magic at offset " + std::to_string(start) + ")";
    }
    return "already carries " + std::to_string(stub.byteLength() - start) +
           " bytes after its last section (a symbol table? link the stub stripped)";
  }
  return "";
}

const std::string* lastNarrowValue(const ConfigRecord& record, int32_t id) {
  const std::string* found = nullptr;
  for (const auto& [entryId, value] : record.narrow) {
    if (entryId == id) found = &value;
  }
  return found;
}

MediaInspection inspectMedia(ByteSource& source) {
  MediaInspection info;
  info.fileSize = source.byteLength();
  if (!readPeLayout(source, info.pe)) throw PackError("not a PE image");
  info.appendedStart = info.pe.appendedDataStart();
  if (info.appendedStart >= info.fileSize) throw PackError("no appended data: the file ends at its last section");
  info.signature = readSignature(source, info.pe);
  if (info.signature.present && (info.signature.offset > info.fileSize ||
                                 info.signature.size > info.fileSize - info.signature.offset)) {
    info.problems.push_back("the signature (" + std::to_string(info.signature.size) + " bytes at " +
                            std::to_string(info.signature.offset) + ") runs past the end of the file");
  }

  SourceReader reader(source, info.appendedStart);
  try {
    info.header = readMediaHeader(reader);
  } catch (const MediaFormatError& e) {
    info.problems.push_back(std::string("header cut short (") + readerFailureText(e.kind) + ")");
    return info;
  }
  uint64_t recordStart = info.appendedStart + kMediaHeaderSize;
  // File positions stay far below 2^63, so with a non-negative length neither sum nor difference
  // can overflow; a negative one is reported rather than computed with.
  info.checkedLengthValid = info.header.checkedLength >= 0;
  if (info.checkedLengthValid) {
    info.trailingBytes = static_cast<int64_t>(info.fileSize - recordStart) - info.header.checkedLength;
  } else {
    info.problems.push_back("invalid checked length " + std::to_string(info.header.checkedLength) +
                            ": it is negative");
  }
  if (info.header.magic != kMediaMagic) {
    info.problems.push_back("bad magic " + hex32(info.header.magic) + " (expected " + hex32(kMediaMagic) + ")");
    return info;
  }
  try {
    info.record = readConfigRecord(reader);
    info.recordRead = true;
    info.configEnd = reader.position();
  } catch (const MediaFormatError& e) {
    info.problems.push_back(std::string("configuration record cut short: ") + readerFailureText(e.kind));
    return info;
  }

  const std::string* countText = lastNarrowValue(info.record, entry::kIncludedFileCount);
  const std::string* namesText = lastNarrowValue(info.record, entry::kIncludedFileNames);
  info.fileCount = countText ? parseConfigInt(*countText) : 0;
  std::vector<std::string> names = includedFileList(namesText ? *namesText : std::string(), info.fileCount);
  uint64_t at = info.configEnd;
  for (const std::string& name : names) {
    FileTableEntry fileEntry;
    try {
      fileEntry = readFileTableEntry(source, at);
    } catch (const MediaFormatError&) {
      info.problems.push_back("file \"" + ansiToUtf8(name) + "\": size field cut short at offset " + std::to_string(at));
      return info;
    }
    info.files.push_back({name, fileEntry.sizeOffset, fileEntry.size});
    if (!fileEntry.withinSource) {
      info.problems.push_back("file \"" + ansiToUtf8(name) + "\": " + std::to_string(fileEntry.size) +
                              " bytes run past the end of the file");
      return info;
    }
    at = fileEntry.end;
  }
  info.filesWalked = true;
  info.javaDataOffset = at;
  info.unextractedPosition = names.empty() ? 0 : at;
  if (info.checkedLengthValid) {
    uint64_t coveredEnd = recordStart + static_cast<uint64_t>(info.header.checkedLength);
    info.javaDataSize = coveredEnd >= at ? static_cast<int64_t>(coveredEnd - at) : -static_cast<int64_t>(at - coveredEnd);
  }
  return info;
}

VerifyResult verifyMedia(ByteSource& source) {
  PeLayout layout;
  if (!readPeLayout(source, layout)) return {false, "not a PE image"};
  uint64_t start = layout.appendedDataStart();
  if (start >= source.byteLength()) return {false, "no appended data: the file ends at its last section"};
  SourceReader reader(source, start);
  MediaHeader header;
  try {
    header = readMediaHeader(reader);
  } catch (const MediaFormatError&) {
    return {false, "truncated: the media header needs " + std::to_string(kMediaHeaderSize) + " bytes, the file has " +
                       std::to_string(source.byteLength() - start) + " after its last section"};
  }
  if (header.magic != kMediaMagic) {
    return {false, "bad magic " + hex32(header.magic) + " (expected " + hex32(kMediaMagic) + ")"};
  }
  if (header.checksumFlag == 0) return {true, "OK (checksum flag 0: nothing to verify)"};
  int64_t length = header.checkedLength;
  if (length < 0) return {false, "corrupted: negative checked length " + std::to_string(length)};
  uint64_t covered = reader.position();
  if (uint64_t(length) > source.byteLength() - covered) {
    return {false, "truncated: checked length " + std::to_string(length) + " runs " +
                       std::to_string(uint64_t(length) - (source.byteLength() - covered)) + " bytes past the end of the file"};
  }
  constexpr std::size_t kBlock = 1 << 20;
  std::unique_ptr<uint8_t[]> block(new uint8_t[kBlock]);
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t done = 0;
  while (done < uint64_t(length)) {
    std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(kBlock, uint64_t(length) - done));
    if (!source.bytesAt(covered + done, block.get(), n)) {
      return {false, "read failed at offset " + std::to_string(covered + done)};
    }
    crc = crc32(crc, block.get(), static_cast<uInt>(n));
    done += n;
  }
  if (static_cast<uint32_t>(crc) != header.storedChecksum) {
    return {false, "checksum mismatch: stored " + hex32(header.storedChecksum) + ", computed " + hex32(static_cast<uint32_t>(crc)) +
                       " over " + std::to_string(length) + " bytes"};
  }
  return {true, "OK"};
}
