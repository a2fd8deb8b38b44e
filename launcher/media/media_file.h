// The launcher's own executable read as a data file: opening it, finding the data appended
// behind the PE image, and the little-endian readers. Every reader ends the process on a
// failed or short read with its own message; none returns a partial value.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "base/handles.h"
#include "media/media_format.h"

// Opens the executable for reading (read and write sharing); ends the process when it cannot.
FileHandle openMediaFile();

// Moves the handle to the first byte of the appended data and returns that position.
int64_t locateAppendedData(HANDLE media);

int16_t readShort(HANDLE media);
int32_t readInt(HANDLE media);
int64_t readLong(HANDLE media);
// A 32-bit byte count, then that many bytes. Counts that are negative or reach past the end of
// the file are refused (with the reader's message) before anything is allocated.
std::string readString(HANDLE media);
// The same for UTF-16LE text; an odd byte count drops the last byte.
std::u16string readWString(HANDLE media);

// Moves the handle to an absolute position; false when the system refuses.
bool seekMediaFile(HANDLE media, int64_t position);
int64_t mediaFilePosition(HANDLE media);

// The readers above as a RecordReader for the configuration record parser.
class MediaFileReader : public RecordReader {
 public:
  explicit MediaFileReader(HANDLE media) : media_(media) {}
  int16_t readShort() override { return ::readShort(media_); }
  int32_t readInt() override { return ::readInt(media_); }
  int64_t readLong() override { return ::readLong(media_); }
  std::string readString() override { return ::readString(media_); }
  std::u16string readWString() override { return ::readWString(media_); }

 private:
  HANDLE media_;
};
