// The launcher's own executable read as a data file: opening it, a byte source over its handle
// for the media reader, and where the data appended behind the PE image begins. A read that the
// file cannot satisfy ends the process with the failing reader's message.
#pragma once
#include <windows.h>

#include <cstdint>

#include "base/handles.h"
#include "media/media_format.h"

// Opens the executable for reading (read and write sharing); ends the process when it cannot.
FileHandle openMediaFile();

// The open executable as a byte source. Each read places the handle itself, so a sequential
// copy that follows starts with a seek of its own.
class MediaFileSource : public ByteSource {
 public:
  explicit MediaFileSource(HANDLE media);

 private:
  static bool readFile(ByteSource& source, uint64_t pos, void* dst, std::size_t n);
  HANDLE media_;
};

// Moves the handle to an absolute position; false when the system refuses.
bool seekMediaFile(HANDLE media, int64_t position);

// Logs a failed read and ends the process with that reader's message ("Internal Error: readInt").
[[noreturn]] void endOnMediaFormatError(const MediaFormatError& error);

// The result of read(), which reads the appended data; never returns from a failed read.
template <typename Read>
auto readOrEnd(Read read) -> decltype(read()) {
  try {
    return read();
  } catch (const MediaFormatError& error) {
    endOnMediaFormatError(error);
  }
}

// Where the appended data begins, logging the PE fields that place it.
int64_t locateAppendedData(ByteSource& media);
