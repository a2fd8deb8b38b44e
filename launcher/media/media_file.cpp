#include "media/media_file.h"

#include "base/errors.h"
#include "base/log.h"
#include "base/paths.h"

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

MediaFileSource::MediaFileSource(HANDLE media) : ByteSource(0, &MediaFileSource::readFile), media_(media) {
  // The executable does not change while it runs; a size that cannot be read makes every read fail.
  LARGE_INTEGER size;
  if (GetFileSizeEx(media, &size) && size.QuadPart > 0) length_ = static_cast<uint64_t>(size.QuadPart);
}

bool MediaFileSource::readFile(ByteSource& source, uint64_t pos, void* dst, std::size_t n) {
  HANDLE media = static_cast<MediaFileSource&>(source).media_;
  if (!source.holds(pos, n) || !seekMediaFile(media, static_cast<int64_t>(pos))) return false;
  auto* out = static_cast<unsigned char*>(dst);
  while (n > 0) {
    // ReadFile takes at most a DWORD at once.
    DWORD want = static_cast<DWORD>(n < 0x40000000u ? n : 0x40000000u);
    DWORD got = 0;
    if (!ReadFile(media, out, want, &got, nullptr) || got == 0) return false;
    out += got;
    n -= got;
  }
  return true;
}

bool seekMediaFile(HANDLE media, int64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = position;
  return SetFilePointerEx(media, to, nullptr, FILE_BEGIN) != 0;
}

void endOnMediaFormatError(const MediaFormatError& error) {
  logInfo("error %lu", GetLastError());
  fatalError(readerFailureText(error.kind));
}

int64_t locateAppendedData(ByteSource& media) {
  PeLayout layout;
  // The system loaded this very image, so only a read that failed can make it look like no PE
  // image; the first field read is the header offset, an int.
  if (!readPeLayout(media, layout)) endOnMediaFormatError(MediaFormatError{ReaderKind::Int});
  logInfo("number of sections: %d", layout.sectionCount);
  logInfo("size of optional headers: %d", layout.optionalHeaderSize);
  logInfo("resSectionTableStart: %d", static_cast<int>(layout.lastSectionEntry));
  logInfo("rawDataSize: %d, rawDataOffset: %d", static_cast<int>(layout.lastRawSize), static_cast<int>(layout.lastRawPointer));
  return static_cast<int64_t>(layout.appendedDataStart());
}
