// The runtime download's logic that needs no network: copying a response body of announced
// length, the progress text, the receive timeout and the expected digest of the archive.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Configuration entry holding the runtime archive's SHA-256 digest (64 hexadecimal digits);
// empty or absent: the download is not checked.
constexpr int32_t kRuntimeDigestEntry = 162;

// At most this many bytes are asked for per read.
constexpr uint32_t kDownloadChunkSize = 16384;
// The progress text is refreshed at most this often.
constexpr uint32_t kProgressRefreshMillis = 500;
// How long a read may wait for the next bytes before the download fails.
constexpr uint32_t kReceiveTimeoutMillis = 60000;

// Where the bytes of a response body come from and go to; the Win32 side reads with WinINet
// and writes a file, the tests script both ends.
class BodyTransfer {
 public:
  virtual ~BodyTransfer() = default;
  // Reads at most `want` bytes into buffer. False on a read error; true with got == 0 when the
  // connection ended.
  virtual bool read(unsigned char* buffer, uint32_t want, uint32_t& got) = 0;
  // False when not all n bytes could be stored.
  virtual bool write(const unsigned char* data, uint32_t n) = 0;
  // A millisecond clock that may wrap around.
  virtual uint32_t tickCount() = 0;
  // Called after a chunk when a refresh is due.
  virtual void showProgress(uint32_t received, uint32_t elapsedMillis) = 0;
};

enum class TransferOutcome {
  complete,     // exactly `length` bytes were read and stored
  emptyBody,    // the response announced no bytes at all: nothing a runtime archive can be
  readFailed,   // the read reported an error (a receive timeout among them)
  endedEarly,   // the connection ended before `length` bytes arrived
  writeFailed,  // the destination did not take a chunk
};

struct TransferResult {
  TransferOutcome outcome;
  uint32_t received;  // bytes read, the failed chunk's included
};

// Copies a body of `length` bytes in chunks of at most kDownloadChunkSize. With progress, the
// first chunk always refreshes, later ones when more than kProgressRefreshMillis have passed.
TransferResult copyDownloadBody(BodyTransfer& io, uint32_t length, bool withProgress);

// The progress line from the configured format (message 20008): its floating-point conversions
// take, in order, megabytes received, megabytes in all, the percentage (cut to tenths) and the
// speed in bytes per millisecond. Only "%%" and conversions of the kinds f, e and g (with flags, width and
// precision) are honoured; anything else in the configured text, and conversions beyond the
// fourth, are shown as written. Before any millisecond has passed the speed is 0.
std::u16string formatDownloadProgress(std::u16string_view format, uint32_t received, uint32_t length,
                                      uint32_t elapsedMillis);

// Position (0 to 100) of the download's progress bar: the integer part of the percentage.
int downloadBarPosition(uint32_t received, uint32_t length);

// The receive timeout in milliseconds: the product's 60 s, or a shorter positive decimal value
// of the test setting (null or unusable values keep the product's).
uint32_t receiveTimeoutMillis(const char* testSetting);

using Sha256Digest = std::array<unsigned char, 32>;

// Reads a SHA-256 digest written as 64 hexadecimal digits (either case, blanks around them
// allowed). False for anything else.
bool parseSha256Hex(std::string_view text, Sha256Digest& digest);
std::string sha256Hex(const Sha256Digest& digest);
