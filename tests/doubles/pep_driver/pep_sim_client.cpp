#include "pep_sim_client.h"

#include <cstdio>

namespace pepsim {
namespace {

struct ServiceHandle {
  SC_HANDLE h = nullptr;
  explicit ServiceHandle(SC_HANDLE handle) : h(handle) {}
  ~ServiceHandle() {
    if (h) CloseServiceHandle(h);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
};

// Calls attempt until it succeeds, fails with an error other than passing, or has been
// called tries times; the last error stays as the last attempt left it.
template <typename Attempt>
auto retriedWhile(DWORD passing, int tries, DWORD pauseMs, Attempt attempt) {
  for (int tried = 1;; ++tried) {
    auto result = attempt();
    if (result || GetLastError() != passing || tried == tries) return result;
    Sleep(pauseMs);
  }
}

std::string failure(const char* what) {
  char text[64];
  std::snprintf(text, sizeof text, " failed (error %lu)", GetLastError());
  return what + std::string(text);
}

// The service manager answers a stop before the device host has unloaded the driver.
bool waitForState(SC_HANDLE service, DWORD wanted, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  SERVICE_STATUS status;
  while (QueryServiceStatus(service, &status)) {
    if (status.dwCurrentState == wanted) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(20);
  }
  return false;
}

bool deviceOpens() {
  HANDLE h = CreateFileA(PEP_SIM_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

}  // namespace

std::string driverBesideProgram() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, length);
  return dir.substr(0, dir.find_last_of('\\') + 1) + "pep_sim.sys";
}

bool isRegistered() {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager.h) return false;
  ServiceHandle service(OpenServiceA(manager.h, PEP_SIM_SERVICE_NAME, SERVICE_QUERY_STATUS));
  return service.h != nullptr;
}

std::string stopAndRemove() {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager.h) return failure("OpenSCManager");
  ServiceHandle service(OpenServiceA(manager.h, PEP_SIM_SERVICE_NAME, SERVICE_ALL_ACCESS));
  if (!service.h) {
    return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? std::string() : failure("OpenService");
  }
  SERVICE_STATUS status;
  if (QueryServiceStatus(service.h, &status) && status.dwCurrentState != SERVICE_STOPPED) {
    if (!ControlService(service.h, SERVICE_CONTROL_STOP, &status) && GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
      return failure("ControlService");
    if (!waitForState(service.h, SERVICE_STOPPED, 10000)) return "the simulator did not stop within 10 s";
  }
  if (!DeleteService(service.h) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) return failure("DeleteService");
  return {};
}

std::string installAndStart(const std::string& driverPath, int variant) {
  if (std::string error = stopAndRemove(); !error.empty()) return error;
  if (GetFileAttributesA(driverPath.c_str()) == INVALID_FILE_ATTRIBUTES) return "no driver at " + driverPath;
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager.h) return failure("OpenSCManager");
  // A deleted service disappears only once its last handle is closed; retry briefly.
  ServiceHandle service(retriedWhile(ERROR_SERVICE_MARKED_FOR_DELETE, 100, 20, [&] {
    return CreateServiceA(manager.h, PEP_SIM_SERVICE_NAME, "PEP driver simulator", SERVICE_ALL_ACCESS,
                          SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, driverPath.c_str(),
                          nullptr, nullptr, nullptr, nullptr, nullptr);
  }));
  if (!service.h && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) return failure("CreateService");
  if (!service.h) return "the previous simulator service was not deleted in time";
  DWORD value = static_cast<DWORD>(variant);
  LONG rc = RegSetKeyValueA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\" PEP_SIM_SERVICE_NAME,
                            PEP_SIM_VARIANT_VALUE, REG_DWORD, &value, sizeof value);
  if (rc != ERROR_SUCCESS) {
    DeleteService(service.h);
    return "writing the variant failed (error " + std::to_string(rc) + ")";
  }
  // Wine's device host of the simulator just removed may still be going away: the start then
  // fails with an internal error for a moment.
  if (!retriedWhile(ERROR_INTERNAL_ERROR, 50, 100, [&] { return StartServiceA(service.h, 0, nullptr); })) {
    std::string error = failure("StartService");
    DeleteService(service.h);
    return error;
  }
  if (!waitForState(service.h, SERVICE_RUNNING, 10000) || !deviceOpens()) {
    stopAndRemove();
    return "the simulator started but \\\\.\\Tarvik does not open";
  }
  return {};
}

Connection::Connection()
    : handle_(CreateFileA(PEP_SIM_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr)) {}

Connection::~Connection() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

bool Connection::setValues(const PepSimSettings& settings) {
  DWORD returned = 0;
  return DeviceIoControl(handle_, PEP_SIM_SET_VALUES, const_cast<PepSimSettings*>(&settings), sizeof settings,
                         nullptr, 0, &returned, nullptr) != FALSE;
}

bool Connection::snapshot(PepSimSnapshot& out) {
  DWORD returned = 0;
  return DeviceIoControl(handle_, PEP_SIM_GET_SNAPSHOT, nullptr, 0, &out, sizeof out, &returned, nullptr) &&
         returned == sizeof out;
}

bool Connection::raiseAlarm(std::int32_t rawValue, std::uint32_t& signalled) {
  DWORD returned = 0;
  signalled = 0;
  return DeviceIoControl(handle_, PEP_SIM_RAISE_ALARM, &rawValue, sizeof rawValue, &signalled, sizeof signalled,
                         &returned, nullptr) != FALSE;
}

bool Connection::awaitAlarmRegistrations(std::uint32_t count, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  PepSimSnapshot snap;
  while (snapshot(snap)) {
    if (snap.alarmRegistrations >= count) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(10);
  }
  return false;
}

}  // namespace pepsim
