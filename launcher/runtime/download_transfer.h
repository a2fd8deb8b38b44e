// The runtime download's logic that needs no network: copying a response body of announced
// length, the progress text, the receive timeout and the expected digest of the archive.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

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

// Where the copy of one body stands; it outlives the pieces of a resumed download, so that the
// progress goes on from the bytes already received. The clock starts with the first chunk read.
struct BodyProgress {
  uint32_t received = 0;
  uint32_t startTick = 0;
  uint32_t lastRefresh = 0;
  bool started = false;
  bool refreshed = false;
};

// Copies a body of `length` bytes in chunks of at most kDownloadChunkSize. With progress, the
// first chunk always refreshes, later ones when more than kProgressRefreshMillis have passed.
TransferResult copyDownloadBody(BodyTransfer& io, uint32_t length, bool withProgress);
// The same, going on from progress.received (a resumed body delivers the rest of the file).
TransferResult copyDownloadBody(BodyTransfer& io, uint32_t length, bool withProgress, BodyProgress& progress);

// A body that stopped early is asked for again this many times, from where it stopped.
constexpr int kDownloadRetries = 5;
// The pause before the first retry; it doubles with each further one (1, 2, 4, 8, 16 s).
constexpr uint32_t kRetryPauseMillis = 1000;

// Whether a body that ended this way is worth asking for again: a connection that closed or
// timed out may come back, a full disk or an empty answer will not.
bool retriesAfter(TransferOutcome outcome);

// The pause before retry `retry` (1 to kDownloadRetries) when the first one lasts firstMillis.
uint32_t retryPauseMillis(int retry, uint32_t firstMillis);

// The value of If-Range for a resumed request: a strong ETag, else Last-Modified, else empty
// (a weak ETag cannot validate a range, and without a validator a range could splice two
// versions of the file: the download then starts over).
std::string ifRangeValidator(std::string_view etag, std::string_view lastModified);

enum class ResumeStep {
  continueFile,  // the answer carries the rest of the same file
  restart,       // a whole file: the server ignored the range or the file changed
  fail,          // anything else
};

// What the answer to "Range: bytes=offset-" means for a file of `length` bytes of which
// `offset` were received: a 206 whose Content-Range runs from offset to the end of a file of
// that length continues it; a 200 starts it over; anything else fails.
ResumeStep judgeResumedAnswer(uint32_t status, std::string_view contentRange, uint32_t offset, uint32_t length);

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
// The first retry pause in milliseconds: the product's, or a shorter positive decimal value of
// the test setting (null or unusable values keep the product's).
uint32_t firstRetryPauseMillis(const char* testSetting);

using Sha256Digest = std::array<unsigned char, 32>;

// Reads a SHA-256 digest written as 64 hexadecimal digits (either case, blanks around them
// allowed). False for anything else.
bool parseSha256Hex(std::string_view text, Sha256Digest& digest);
std::string sha256Hex(const Sha256Digest& digest);
