#include "media/media_file.h"

#include "base/errors.h"
#include "base/log.h"
#include "base/paths.h"

namespace {

// One ReadFile for the whole width; true only when every byte arrived.
bool readExactly(HANDLE media, void* buffer, DWORD size, DWORD& got) {
  got = 0;
  return ReadFile(media, buffer, size, &got, nullptr) && got == size;
}

// Bytes between the handle's position and the end of the file.
int64_t remainingBytes(HANDLE media) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(media, &size)) return 0;
  int64_t position = mediaFilePosition(media);
  return position < 0 || position > size.QuadPart ? 0 : size.QuadPart - position;
}

// The byte count of a string, refused when it is negative or runs past the end of the file.
int32_t readStringCount(HANDLE media, ReaderKind kind) {
  unsigned char bytes[4];
  DWORD got;
  if (!readExactly(media, bytes, 4, got)) fatalError(readerFailureText(kind));
  int32_t count = decodeLittleEndian<int32_t>(bytes);
  if (count < 0 || count > remainingBytes(media)) fatalError(readerFailureText(kind));
  return count;
}

}  // namespace

FileHandle openMediaFile() {
  const std::string& path = executablePath();
  FileHandle media(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!media.valid()) {
    logInfo("Could not open %s", path.c_str());
    fatalError("Error opening media file. Please move this file to an ascii-only path like c:\\");
  }
  return media;
}

bool seekMediaFile(HANDLE media, int64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = position;
  return SetFilePointerEx(media, to, nullptr, FILE_BEGIN) != 0;
}

int64_t mediaFilePosition(HANDLE media) {
  LARGE_INTEGER zero{}, now{};
  if (!SetFilePointerEx(media, zero, &now, FILE_CURRENT)) return -1;
  return now.QuadPart;
}

int64_t locateAppendedData(HANDLE media) {
  seekMediaFile(media, kPeOffsetField);
  uint32_t pe = static_cast<uint32_t>(readInt(media));
  seekMediaFile(media, int64_t(pe) + kSectionCountOffset);
  uint16_t sections = static_cast<uint16_t>(readShort(media));
  logInfo("number of sections: %d", sections);
  seekMediaFile(media, int64_t(pe) + kOptionalHeaderSizeOffset);
  uint16_t optionalHeaderSize = static_cast<uint16_t>(readShort(media));
  logInfo("size of optional headers: %d", optionalHeaderSize);
  int64_t rawSizeField = static_cast<int64_t>(lastRawSizeField(pe, optionalHeaderSize, sections));
  logInfo("resSectionTableStart: %d", static_cast<int>(rawSizeField - kRawSizeInEntry));
  seekMediaFile(media, rawSizeField);
  uint32_t rawSize = static_cast<uint32_t>(readInt(media));
  uint32_t rawOffset = static_cast<uint32_t>(readInt(media));
  logInfo("rawDataSize: %d, rawDataOffset: %d", static_cast<int>(rawSize), static_cast<int>(rawOffset));
  int64_t start = int64_t(rawOffset) + rawSize;
  seekMediaFile(media, start);
  return start;
}

int16_t readShort(HANDLE media) {
  unsigned char bytes[2];
  DWORD got;
  if (!readExactly(media, bytes, 2, got)) {
    logInfo("error %lu\n", GetLastError());
    fatalError("Internal Error: readShort");
  }
  return decodeLittleEndian<int16_t>(bytes);
}

int32_t readInt(HANDLE media) {
  unsigned char bytes[4];
  DWORD got;
  if (!readExactly(media, bytes, 4, got)) {
    logInfo("error %lu %lu\n", GetLastError(), got);
    fatalError("Internal Error: readInt");
  }
  return decodeLittleEndian<int32_t>(bytes);
}

int64_t readLong(HANDLE media) {
  unsigned char bytes[8];
  DWORD got;
  if (!readExactly(media, bytes, 8, got)) {
    logInfo("error %lu\n", GetLastError());
    fatalError("Internal Error: readLong");
  }
  return decodeLittleEndian<int64_t>(bytes);
}

std::string readString(HANDLE media) {
  int32_t count = readStringCount(media, ReaderKind::String);
  std::string value(static_cast<std::size_t>(count), '\0');
  DWORD got;
  if (count > 0 && !readExactly(media, &value[0], static_cast<DWORD>(count), got)) {
    fatalError(readerFailureText(ReaderKind::String));
  }
  return value;
}

std::u16string readWString(HANDLE media) {
  int32_t count = readStringCount(media, ReaderKind::WString);
  std::string bytes(static_cast<std::size_t>(count), '\0');
  DWORD got;
  if (count > 0 && !readExactly(media, &bytes[0], static_cast<DWORD>(count), got)) {
    fatalError(readerFailureText(ReaderKind::WString));
  }
  std::u16string value(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < value.size(); ++i) {
    value[i] = decodeLittleEndian<char16_t>(reinterpret_cast<const unsigned char*>(bytes.data()) + 2 * i);
  }
  return value;
}
