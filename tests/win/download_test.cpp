// The download's own threads against a local server that stalls: a read given up on ends its
// thread once the connection goes, and nothing of a failed download stays running.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "base/log.h"
#include "runtime/runtime_download.h"
#include "temp_dir.h"

namespace {

constexpr char kTimeoutVariable[] = "PATHMERE_TEST_RECEIVE_TIMEOUT_MS";

// Threads started and not yet ended since the program began, as the loader reports them to
// every module: a thread blocked for ever still counts.
std::atomic<int> g_liveThreads{0};

void NTAPI countThreads(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_ATTACH) ++g_liveThreads;
  if (reason == DLL_THREAD_DETACH) --g_liveThreads;
}

int threadCount() { return g_liveThreads.load(); }

// Serves 127.0.0.1: the first `whole` requests get the whole body, the next one the headers of a
// long body and a little of it, then nothing; later requests get no answer at all. Connections
// stay open until stop().
class StallingServer {
 public:
  static constexpr int kLength = 100000;

  explicit StallingServer(int whole) : whole_(whole) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 16);
    int size = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = CreateThread(nullptr, 0, serve, this, 0, nullptr);
  }
  ~StallingServer() { stop(); }

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/jre/jre.tar.gz"; }
  int requests() const { return requests_.load(); }

  void stop() {
    if (listener_ == INVALID_SOCKET) return;
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    std::lock_guard<std::mutex> lock(mutex_);
    for (SOCKET client : clients_) closesocket(client);
    clients_.clear();
    WSACleanup();
  }

 private:
  static DWORD WINAPI serve(LPVOID parameter) {
    auto* server = static_cast<StallingServer*>(parameter);
    for (;;) {
      SOCKET client = accept(server->listener_, nullptr, nullptr);
      if (client == INVALID_SOCKET) return 0;
      {
        std::lock_guard<std::mutex> lock(server->mutex_);
        server->clients_.push_back(client);
      }
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        int got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        request.append(buffer, static_cast<std::size_t>(got));
      }
      int number = ++server->requests_;
      bool whole = number <= server->whole_;
      if (number > server->whole_ + 1) continue;
      std::string head = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(kLength) +
                         "\r\nConnection: close\r\n\r\n";
      std::string body(whole ? kLength : 1000, 'j');
      if (!whole) {
        // The request was sent with the long timeout; the body's reads get the short one, so
        // the read is given up on while WinINet still waits.
        SetEnvironmentVariableA(kTimeoutVariable, "300");
      }
      std::string answer = head + body;
      send(client, answer.data(), static_cast<int>(answer.size()), 0);
      if (whole) shutdown(client, SD_SEND);
    }
  }

  int whole_;
  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  HANDLE thread_ = nullptr;
  std::atomic<int> requests_{0};
  std::mutex mutex_;
  std::vector<SOCKET> clients_;
};

}  // namespace

extern "C" __attribute__((section(".CRT$XLY"), used)) const PIMAGE_TLS_CALLBACK pathmereCountThreads = countThreads;

TEST(Download, AStalledDownloadLeavesNoThreadBehindOnceItsConnectionsGo) {
  TempDir dir;
  SetEnvironmentVariableA("no_proxy", "127.0.0.1");
  SetEnvironmentVariableA("http_proxy", nullptr);
  SetEnvironmentVariableA("PATHMERE_TEST_RETRY_PAUSE_MS", "10");
  SetEnvironmentVariableA(kTimeoutVariable, "20000");
  ASSERT_TRUE(bindWinInet());
  {
    // WinINet's own threads, if any, exist after a first download.
    StallingServer warmUp(1);
    ASSERT_TRUE(downloadFile(nullptr, warmUp.url().c_str(), dir.file("warm.tar.gz").c_str()));
  }
  Sleep(500);
  int before = threadCount();
  StallingServer server(0);
  DWORD start = GetTickCount();
  EXPECT_FALSE(downloadFile(nullptr, server.url().c_str(), dir.file("jre.tar.gz").c_str()));
  EXPECT_LT(GetTickCount() - start, 15000u) << "every silent request ends at the timeout";
  EXPECT_EQ(server.requests(), 6) << "the stalled one and five retries";
  EXPECT_EQ(GetFileAttributesA(dir.file("jre.tar.gz").c_str()), INVALID_FILE_ATTRIBUTES);
  server.stop();
  int after = threadCount();
  for (int i = 0; i < 100 && after > before; ++i) {
    Sleep(100);
    after = threadCount();
  }
  EXPECT_LE(after, before) << "threads of abandoned reads or requests still run";
  SetEnvironmentVariableA(kTimeoutVariable, nullptr);
  SetEnvironmentVariableA("PATHMERE_TEST_RETRY_PAUSE_MS", nullptr);
}
