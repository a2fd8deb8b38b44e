#include "runtime/runtime_download.h"

#include <commctrl.h>
#include <wininet.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/dll_search.h"
#include "base/handles.h"
#include "base/log.h"
#include "config/launcher_config.h"
#include "dialogs.h"
#include "process/child_processes.h"
#include "res/resource_ids.h"
#include "runtime/download_transfer.h"
#include "runtime/sha256.h"

namespace {

constexpr char kUserAgent[] = "tessar download agent";
constexpr int kLengthQueries = 20;
constexpr DWORD kLengthQueryPauseMillis = 300;
// Shortens the receive timeout for the tests of a stalled server (milliseconds, at most 60000).
constexpr char kTestTimeoutVariable[] = "PATHMERE_TEST_RECEIVE_TIMEOUT_MS";
// Shortens the first pause before a retry for the tests of a dropping server (milliseconds).
constexpr char kTestRetryPauseVariable[] = "PATHMERE_TEST_RETRY_PAUSE_MS";

using InternetOpenAFn = HINTERNET(WINAPI*)(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD);
using HttpQueryInfoAFn = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);
using InternetAttemptConnectFn = DWORD(WINAPI*)(DWORD);
using InternetCloseHandleFn = BOOL(WINAPI*)(HINTERNET);
using InternetReadFileFn = BOOL(WINAPI*)(HINTERNET, LPVOID, DWORD, LPDWORD);
using InternetSetOptionAFn = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, DWORD);
using InternetCrackUrlAFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPURL_COMPONENTSA);
using InternetConnectAFn = HINTERNET(WINAPI*)(HINTERNET, LPCSTR, INTERNET_PORT, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR);
using HttpOpenRequestAFn = HINTERNET(WINAPI*)(HINTERNET, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR*, DWORD, DWORD_PTR);
using HttpSendRequestAFn = BOOL(WINAPI*)(HINTERNET, LPCSTR, DWORD, LPVOID, DWORD);

// Bound once by bindWinInet on the thread that downloads; never unloaded.
struct WinInet {
  InternetOpenAFn open = nullptr;
  HttpQueryInfoAFn queryInfo = nullptr;
  InternetAttemptConnectFn attemptConnect = nullptr;
  InternetCloseHandleFn closeHandle = nullptr;
  InternetReadFileFn readFile = nullptr;
  InternetSetOptionAFn setOption = nullptr;
  InternetCrackUrlAFn crackUrl = nullptr;
  InternetConnectAFn connect = nullptr;
  HttpOpenRequestAFn openRequest = nullptr;
  HttpSendRequestAFn sendRequest = nullptr;
};
WinInet g_winInet;
bool g_winInetBound = false;

// Set by cancelDownload on the thread that ended the progress dialog: the download stops at its
// next read or pause. Manual reset: once cancelled, the launcher ends.
const HANDLE g_cancelRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
// Signalled while no download runs: downloadFile resets it before it looks at the cancel request
// and signals it only when its file is closed (and deleted when incomplete).
const HANDLE g_noDownloadRunning = CreateEventA(nullptr, TRUE, TRUE, nullptr);

bool cancelRequested() { return WaitForSingleObject(g_cancelRequested, 0) == WAIT_OBJECT_0; }

// Waits for millis, or less when the download is cancelled; false then.
bool pauseUnlessCancelled(DWORD millis) { return WaitForSingleObject(g_cancelRequested, millis) == WAIT_TIMEOUT; }

// Keeps g_noDownloadRunning reset while downloadFile runs.
struct RunningDownload {
  RunningDownload() { ResetEvent(g_noDownloadRunning); }
  ~RunningDownload() { SetEvent(g_noDownloadRunning); }
  RunningDownload(const RunningDownload&) = delete;
  RunningDownload& operator=(const RunningDownload&) = delete;
};

template <typename Fn>
bool bindEntry(HMODULE library, const char* name, Fn& into) {
  into = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  return into != nullptr;
}

// The system directory's wininet.dll, never one found through the search order: installers
// run from download folders, where a planted DLL of that name would run with the user's rights.
std::string systemWinInetPath() {
  char directory[MAX_PATH];
  UINT n = GetSystemDirectoryA(directory, sizeof directory);
  if (n == 0 || n >= sizeof directory) return std::string();
  return std::string(directory, n) + "\\wininet.dll";
}

void closeInternet(HINTERNET handle) {
  if (handle) g_winInet.closeHandle(handle);
}

DWORD configuredReceiveTimeout();

// A sent request: its connection handle and the request on it. Closing the request alone would
// leave the connection's handle behind.
struct Request {
  HINTERNET connection = nullptr;
  HINTERNET handle = nullptr;
  explicit operator bool() const { return handle != nullptr; }
};

void closeRequest(Request& request) {
  closeInternet(request.handle);
  closeInternet(request.connection);
  request = Request();
}

// What the thread that sends a request and the thread that waits for it share; the one that
// ends last frees it, so that a send given up on may still return into it.
struct SendState {
  HINTERNET request = nullptr;
  std::string headers;
  BOOL ok = FALSE;
  DWORD error = 0;
  KernelHandle done{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

DWORD WINAPI sendRequestThread(LPVOID parameter) {
  std::unique_ptr<std::shared_ptr<SendState>> owner(static_cast<std::shared_ptr<SendState>*>(parameter));
  SendState& state = **owner;
  state.ok = g_winInet.sendRequest(state.request, state.headers.empty() ? nullptr : state.headers.c_str(),
                                   static_cast<DWORD>(state.headers.size()), nullptr, 0);
  state.error = state.ok ? 0 : GetLastError();
  SetEvent(state.done.h);
  return 0;
}

// Sends on a thread of its own and waits at most timeoutMillis or until the download is
// cancelled: WinINet's own timeouts are not applied everywhere (Wine's connect and the first
// answer of a request block without bound), so the wait here is what ends a silent server.
// False with the last error set (ERROR_INTERNET_TIMEOUT, ERROR_CANCELLED or the send's own).
bool sendWithDeadline(HINTERNET request, const std::string& headers, DWORD timeoutMillis) {
  auto state = std::make_shared<SendState>();
  state->request = request;
  state->headers = headers;
  if (!state->done) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  auto* threadState = new std::shared_ptr<SendState>(state);
  HANDLE thread = CreateThread(nullptr, 0, sendRequestThread, threadState, 0, nullptr);
  if (!thread) {
    delete threadState;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  CloseHandle(thread);
  const HANDLE ends[] = {state->done.h, g_cancelRequested};
  DWORD waited = WaitForMultipleObjects(2, ends, FALSE, timeoutMillis);
  if (waited != WAIT_OBJECT_0) {
    SetLastError(waited == WAIT_OBJECT_0 + 1 ? ERROR_CANCELLED : ERROR_INTERNET_TIMEOUT);
    return false;
  }
  SetLastError(state->error);
  return state->ok != FALSE;
}

// The request's own timeouts for connecting, sending and each wait for data: the session's are
// not handed down to a request under Wine.
void setRequestTimeouts(HINTERNET request, DWORD millis) {
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    if (!g_winInet.setOption(request, option, &millis, sizeof millis)) {
      logError("InternetSetOption failed with error code %d", static_cast<int>(GetLastError()));
    }
  }
}

// Opens and sends a GET for url with the extra headers, within the receive timeout and unless
// cancelled. An empty result on failure, with the last error set.
Request openAndSend(HINTERNET internet, const char* url, const std::string& headers, DWORD flags) {
  char host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = "";
  std::vector<char> path(std::strlen(url) + 1);
  std::vector<char> extra(std::strlen(url) + 1);
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host;
  parts.lpszUrlPath = path.data();
  parts.dwUrlPathLength = static_cast<DWORD>(path.size());
  parts.lpszExtraInfo = extra.data();
  parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
  if (!g_winInet.crackUrl(url, 0, 0, &parts)) return Request();
  // The query goes to the server; a fragment does not.
  std::string object = path[0] ? path.data() : "/";
  if (extra[0] == '?') object += std::string(extra.data()).substr(0, std::string(extra.data()).find('#'));
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    return Request();
  }
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  Request request;
  request.connection =
      g_winInet.connect(internet, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  if (!request.connection) return Request();
  request.handle = g_winInet.openRequest(request.connection, "GET", object.c_str(), nullptr, nullptr, nullptr, flags, 0);
  if (!request.handle) {
    DWORD error = GetLastError();
    closeRequest(request);
    SetLastError(error);
    return Request();
  }
  DWORD timeout = configuredReceiveTimeout();
  setRequestTimeouts(request.handle, timeout);
  if (!sendWithDeadline(request.handle, headers, timeout)) {
    DWORD error = GetLastError();
    // Closing ends a send still under way where WinINet can end it; its thread holds its own
    // reference to what it needs.
    closeRequest(request);
    SetLastError(error);
    return Request();
  }
  return request;
}

Request openAddress(HINTERNET internet, const char* url) {
  return openAndSend(internet, url, std::string(), INTERNET_FLAG_NO_CACHE_WRITE);
}

// The rest of the file from `offset`, valid only while the file is the one the validator names;
// without a validator the whole file again.
Request openRemainder(HINTERNET internet, const char* url, uint32_t offset, const std::string& validator) {
  std::string headers;
  if (!validator.empty()) headers = "Range: bytes=" + std::to_string(offset) + "-\r\nIf-Range: " + validator + "\r\n";
  return openAndSend(internet, url, headers, INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD);
}

// A response header's text; empty when it is absent or longer than any validator needs.
std::string queryHeader(HINTERNET request, DWORD header) {
  char value[1024];
  DWORD size = sizeof value;
  if (!g_winInet.queryInfo(request, header, value, &size, nullptr) || size >= sizeof value) return std::string();
  return std::string(value, size);
}

bool queryLength(HINTERNET request, DWORD& length) {
  DWORD size = sizeof length;
  return g_winInet.queryInfo(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr);
}

DWORD queryStatus(HINTERNET request) {
  DWORD status = 0, size = sizeof status;
  if (!g_winInet.queryInfo(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) return 0;
  return status;
}

std::string answerValidator(HINTERNET request) {
  return ifRangeValidator(queryHeader(request, HTTP_QUERY_ETAG), queryHeader(request, HTTP_QUERY_LAST_MODIFIED));
}

// An error page is not the archive: only a 200 answer is downloaded.
bool statusIsOk(HINTERNET request) {
  DWORD status = 0, size = sizeof status;
  if (!g_winInet.queryInfo(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    logError("HttpQueryInfo for the status failed with error code %d", static_cast<int>(GetLastError()));
    return false;
  }
  if (status != 200) {
    logError("the server answered with HTTP status %lu", static_cast<unsigned long>(status));
    return false;
  }
  return true;
}

// A test setting's text, or null when it is not set (or too long to be a number).
const char* testSetting(const char* variable, char (&setting)[32]) {
  DWORD n = GetEnvironmentVariableA(variable, setting, sizeof setting);
  return n > 0 && n < sizeof setting ? setting : nullptr;
}

DWORD configuredReceiveTimeout() {
  char setting[32];
  return receiveTimeoutMillis(testSetting(kTestTimeoutVariable, setting));
}

DWORD configuredFirstRetryPause() {
  char setting[32];
  return firstRetryPauseMillis(testSetting(kTestRetryPauseVariable, setting));
}

// WinINet's default differs between Windows and Wine (which sets none): a stalled server must
// end the download the same way everywhere. Windows hands the internet handle's value down to
// its requests; Wine applies it only to a request's own connection, so both get it.
void setReceiveTimeout(HINTERNET handle) {
  DWORD millis = configuredReceiveTimeout();
  if (!g_winInet.setOption(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &millis, sizeof millis)) {
    logError("InternetSetOption failed with error code %d", static_cast<int>(GetLastError()));
  }
}

HINTERNET openSession() {
  HINTERNET internet = g_winInet.open(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (internet) setReceiveTimeout(internet);
  return internet;
}

// Reads the body on a thread of its own, so that a stalled connection ends the transfer after
// the receive timeout even where WinINet does not apply the request's own timeout to the body,
// and so that a Cancel ends it at once.
// An abandoned read keeps its state alive until it returns (the state is shared).
class TimedReader {
 public:
  TimedReader(HINTERNET request, DWORD timeoutMillis) : state_(std::make_shared<State>()), timeout_(timeoutMillis) {
    state_->request = request;
    auto* threadState = new std::shared_ptr<State>(state_);
    HANDLE thread = CreateThread(nullptr, 0, readLoop, threadState, 0, nullptr);
    if (thread) {
      CloseHandle(thread);
    } else {
      delete threadState;
      state_->failedToStart = true;
    }
  }
  // An abandoned read ends its thread as soon as the read returns (its request is closed by
  // then); without the signal the thread and its two events would wait for ever.
  ~TimedReader() {
    if (!state_->failedToStart) {
      state_->quit = true;
      SetEvent(state_->start.h);
    }
  }
  TimedReader(const TimedReader&) = delete;
  TimedReader& operator=(const TimedReader&) = delete;

  bool read(unsigned char* buffer, uint32_t want, uint32_t& got, DWORD& error) {
    if (abandoned_ || state_->failedToStart) {
      error = ERROR_NOT_ENOUGH_MEMORY;
      return false;
    }
    state_->want = want;
    SetEvent(state_->start.h);
    const HANDLE ends[] = {state_->done.h, g_cancelRequested};
    DWORD waited = WaitForMultipleObjects(2, ends, FALSE, timeout_);
    if (waited != WAIT_OBJECT_0) {
      abandoned_ = true;
      error = waited == WAIT_OBJECT_0 + 1 ? ERROR_CANCELLED : ERROR_INTERNET_TIMEOUT;
      return false;
    }
    if (!state_->ok) {
      error = state_->error;
      return false;
    }
    got = state_->got < want ? state_->got : want;
    std::memcpy(buffer, state_->buffer, got);
    return true;
  }

 private:
  struct State {
    HINTERNET request = nullptr;
    KernelHandle start{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    KernelHandle done{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    unsigned char buffer[kDownloadChunkSize];
    DWORD want = 0, got = 0, error = 0;
    BOOL ok = FALSE;
    std::atomic<bool> quit{false};
    bool failedToStart = false;
  };

  static DWORD WINAPI readLoop(LPVOID parameter) {
    std::unique_ptr<std::shared_ptr<State>> owner(static_cast<std::shared_ptr<State>*>(parameter));
    State& state = **owner;
    while (WaitForSingleObject(state.start.h, INFINITE) == WAIT_OBJECT_0 && !state.quit) {
      state.got = 0;
      state.ok = g_winInet.readFile(state.request, state.buffer, state.want, &state.got);
      state.error = state.ok ? 0 : GetLastError();
      SetEvent(state.done.h);
    }
    return 0;
  }

  std::shared_ptr<State> state_;
  DWORD timeout_;
  bool abandoned_ = false;
};

// The response body read with WinINet into the destination file, with the progress shown on
// the dialog's status line and bar. A resumed download reads the next request's body on.
class WinInetBody : public BodyTransfer {
 public:
  WinInetBody(HWND window, HANDLE file, uint32_t length) : window_(window), file_(file), length_(length) {
    if (window_) format_ = config::downloadProgressText();
  }
  DWORD readError = 0;
  DWORD writeError = 0;

  void readFrom(HINTERNET request) { reader_ = std::make_unique<TimedReader>(request, configuredReceiveTimeout()); }
  void setLength(uint32_t length) { length_ = length; }

  bool read(unsigned char* buffer, uint32_t want, uint32_t& got) override {
    return reader_->read(buffer, want, got, readError);
  }
  bool write(const unsigned char* data, uint32_t n) override {
    DWORD written = 0;
    if (!WriteFile(file_, data, n, &written, nullptr) || written != n) {
      writeError = GetLastError();
      return false;
    }
    return true;
  }
  uint32_t tickCount() override { return GetTickCount(); }
  void showProgress(uint32_t received, uint32_t elapsedMillis) override {
    setDlgItemTextWide(window_, IDC_DOWNLOAD_STATUS, formatDownloadProgress(format_, received, length_, elapsedMillis));
    SendDlgItemMessageA(window_, IDC_PROGRESS_BAR, PBM_SETPOS,
                        static_cast<WPARAM>(downloadBarPosition(received, length_)), 0);
  }

 private:
  HWND window_;
  std::unique_ptr<TimedReader> reader_;
  HANDLE file_;
  uint32_t length_;
  std::u16string format_;
};

// Logs why a piece of the body ended; returns the short reason for the retry line.
std::string logTransferFailure(const TransferResult& result, const WinInetBody& body, uint32_t length,
                               const char* destinationPath) {
  switch (result.outcome) {
    case TransferOutcome::readFailed:
      logError("InternetReadFile failed with error code %d", static_cast<int>(body.readError));
      return "read error " + std::to_string(body.readError);
    case TransferOutcome::endedEarly:
      logError("the connection ended after %u of %u bytes", result.received, length);
      return "connection ended";
    case TransferOutcome::emptyBody:
      logError("the server announced an empty file");
      break;
    case TransferOutcome::writeFailed:
      logError("writing the destination file %s failed with error code %d", destinationPath,
               static_cast<int>(body.writeError));
      break;
    case TransferOutcome::complete:
      break;
  }
  return std::string();
}

// The digest of the file as it lies on disk, after its last piece.
bool fileSha256(const char* path, Sha256Digest& digest) {
  FileHandle file(
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    logError("opening the downloaded file %s failed with error code %d", path, static_cast<int>(GetLastError()));
    return false;
  }
  Sha256 hash;
  std::vector<unsigned char> buffer(65536);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      logError("reading the downloaded file %s failed with error code %d", path, static_cast<int>(GetLastError()));
      return false;
    }
    if (got == 0) break;
    hash.update(buffer.data(), got);
  }
  digest = hash.finish();
  return true;
}

// Empties the file for a download that starts over.
bool truncateFile(HANDLE file) {
  return SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER && SetEndOfFile(file);
}

}  // namespace

bool bindWinInet() {
  if (g_winInetBound) return true;
  std::string path = systemWinInetPath();
  // By full path, with wininet's own imports resolved from its directory too.
  HMODULE library = path.empty() ? nullptr : LoadLibraryExA(path.c_str(), nullptr, fullPathLoadFlags());
  if (!library) {
    logError("Could not load wininet.dll");
    return false;
  }
  WinInet api;
  bool all = bindEntry(library, "InternetOpenA", api.open) &
             bindEntry(library, "HttpQueryInfoA", api.queryInfo) &
             bindEntry(library, "InternetAttemptConnect", api.attemptConnect) &
             bindEntry(library, "InternetCloseHandle", api.closeHandle) &
             bindEntry(library, "InternetReadFile", api.readFile) &
             bindEntry(library, "InternetSetOptionA", api.setOption) &
             bindEntry(library, "InternetCrackUrlA", api.crackUrl) &
             bindEntry(library, "InternetConnectA", api.connect) &
             bindEntry(library, "HttpOpenRequestA", api.openRequest) &
             bindEntry(library, "HttpSendRequestA", api.sendRequest);
  if (!all) {
    logError("Could not load wininet functions");
    return false;
  }
  g_winInet = api;
  g_winInetBound = true;
  return true;
}

// Copies the open request's body of `length` bytes into destinationPath, asking url for the
// rest when the body stops early, and closes the requests and the internet handle on every path.
static bool transferToFile(HWND progressWindow, HINTERNET internet, Request request, uint32_t length,
                           const char* destinationPath, const std::string& expectedSha256, const char* url);

bool downloadFile(HWND progressWindow, const char* url, const char* destinationPath,
                  const std::string& expectedSha256) {
  if (!g_winInetBound) return false;
  RunningDownload running;
  if (cancelRequested()) return false;
  if (progressWindow) setDlgItemTextWide(progressWindow, IDC_DOWNLOAD_STATUS, config::connectingText());
  DWORD attempt = g_winInet.attemptConnect(0);
  if (attempt != 0) logError("InternetAttemptConnect returned %d", static_cast<int>(attempt));

  HINTERNET internet = openSession();
  if (!internet) {
    logError("InternetOpen failed with error code %d", static_cast<int>(GetLastError()));
    return false;
  }
  Request request = openAddress(internet, url);
  if (!request) {
    logError("InternetOpenUrl failed with error code %d", static_cast<int>(GetLastError()));
    closeInternet(internet);
    return false;
  }

  // Some servers announce the length only on a later request: ask again with a fresh one.
  DWORD length = 0;
  for (int failures = 0;;) {
    if (!statusIsOk(request.handle)) {
      closeRequest(request);
      closeInternet(internet);
      return false;
    }
    if (queryLength(request.handle, length)) break;
    ++failures;
    logError("HttpQueryInfo (try %d) failed with error code %d", failures, static_cast<int>(GetLastError()));
    closeRequest(request);
    if (!pauseUnlessCancelled(kLengthQueryPauseMillis)) {
      closeInternet(internet);
      return false;
    }
    request = openAddress(internet, url);
    if (!request) {
      logError("InternetOpenUrl 2 failed with error code %d", static_cast<int>(GetLastError()));
      closeInternet(internet);
      return false;
    }
    if (failures == kLengthQueries) {
      logError("Giving up");
      closeRequest(request);
      closeInternet(internet);
      return false;
    }
  }
  return transferToFile(progressWindow, internet, request, length, destinationPath, expectedSha256, url);
}

static bool transferToFile(HWND progressWindow, HINTERNET internet, Request request, uint32_t length,
                           const char* destinationPath, const std::string& expectedSha256, const char* url) {
  logInfo("file size: %u, handle %p", length, static_cast<void*>(request.handle));
  Sha256Digest expected{};
  bool checkDigest = !expectedSha256.empty();
  if (checkDigest && !parseSha256Hex(expectedSha256, expected)) {
    logError("the configured SHA-256 digest of the runtime is not 64 hexadecimal digits");
    closeRequest(request);
    closeInternet(internet);
    return false;
  }

  FileHandle file(CreateFileA(destinationPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    logError("opening the destination file %s failed with error code %d", destinationPath,
             static_cast<int>(GetLastError()));
    closeRequest(request);
    closeInternet(internet);
    return false;
  }
  // Only the first answer names the file that a range may continue.
  std::string validator = answerValidator(request.handle);
  WinInetBody body(progressWindow, file.h, length);
  BodyProgress progress;
  bool ok = false;
  DWORD firstPause = configuredFirstRetryPause();
  std::string reason;
  for (int retry = 0;;) {
    if (request) {
      body.readFrom(request.handle);
      TransferResult result = copyDownloadBody(body, length, progressWindow != nullptr, progress);
      if (result.outcome == TransferOutcome::complete) {
        ok = true;
        break;
      }
      if (cancelRequested()) break;
      reason = logTransferFailure(result, body, length, destinationPath);
      if (!retriesAfter(result.outcome)) break;
      closeRequest(request);
    }
    if (retry == kDownloadRetries) {
      logError("Giving up after %d retries", kDownloadRetries);
      break;
    }
    ++retry;
    DWORD pause = retryPauseMillis(retry, firstPause);
    uint32_t from = validator.empty() ? 0 : progress.received;
    logInfo("retry %d of %d from byte %u in %lu ms (%s)", retry, kDownloadRetries, from,
            static_cast<unsigned long>(pause), reason.c_str());
    if (!pauseUnlessCancelled(pause)) break;
    // A session of its own for each retry: nothing of the dropped connection's state is reused.
    closeInternet(internet);
    internet = openSession();
    request = internet ? openRemainder(internet, url, from, validator) : Request();
    if (!request) {
      DWORD error = GetLastError();
      logError("InternetOpenUrl (retry %d) failed with error code %d", retry, static_cast<int>(error));
      reason = "no connection, error " + std::to_string(error);
      continue;
    }
    DWORD status = queryStatus(request.handle);
    std::string contentRange = queryHeader(request.handle, HTTP_QUERY_CONTENT_RANGE);
    // Without a validator the whole file was asked for: only a 200 is an answer.
    ResumeStep step = validator.empty() && status != 200 ? ResumeStep::fail
                                                          : judgeResumedAnswer(status, contentRange, from, length);
    if (step == ResumeStep::fail) {
      logError("the server answered the resumed request with HTTP status %lu and Content-Range \"%s\"",
               static_cast<unsigned long>(status), contentRange.c_str());
      break;
    }
    if (step == ResumeStep::restart) {
      DWORD newLength = 0;
      if (!queryLength(request.handle, newLength) || newLength == 0) {
        logError("the server sent the whole file again without its length");
        break;
      }
      if (!truncateFile(file.h)) {
        logError("emptying the destination file %s failed with error code %d", destinationPath,
                 static_cast<int>(GetLastError()));
        break;
      }
      logInfo("the server sent the whole file again: starting over, file size: %lu",
              static_cast<unsigned long>(newLength));
      length = newLength;
      body.setLength(length);
      validator = answerValidator(request.handle);
      progress = BodyProgress();
    }
  }
  if (cancelRequested()) {
    logInfo("download cancelled");
    ok = false;
  }
  file.close();
  closeRequest(request);
  closeInternet(internet);
  if (ok) {
    // Logged even without a configured digest: the archive goes with the extraction folder
    // when its unpacking fails, and the log then still tells what arrived.
    Sha256Digest actual{};
    if (!fileSha256(destinationPath, actual)) {
      ok = !checkDigest;
    } else if (checkDigest && actual != expected) {
      logError("SHA-256 of the download is %s, expected %s", sha256Hex(actual).c_str(), sha256Hex(expected).c_str());
      ok = false;
    } else {
      logInfo("SHA-256 of the download: %s", sha256Hex(actual).c_str());
    }
  }
  if (!ok) {
    // Nothing of a failed download may be unpacked later.
    DeleteFileA(destinationPath);
    return false;
  }
  logInfo("download successful");
  return true;
}

bool cancelDownload(DWORD waitMillis) {
  SetEvent(g_cancelRequested);
  // Called from the progress dialog's own thread too, while the download may be sending its
  // progress to that dialog.
  return waitAnsweringSentMessages(g_noDownloadRunning, waitMillis);
}

bool downloadCancelled() { return cancelRequested(); }
