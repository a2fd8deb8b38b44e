// Native methods of com.zeb.nativeresource.win.PEPIOWrapper: each one is a device control request
// (two for the alarm wait) on the PEP driver's device. TARVIK_VARIANT selects the driver
// interface generation this build speaks.
#include <windows.h>
#include <jni.h>

#include <cstdio>

#include "pep_io_wrapper.h"
#include "pep_protocol.h"

#if !defined(TARVIK_VARIANT) || (TARVIK_VARIANT != 1 && TARVIK_VARIANT != 2)
#error "TARVIK_VARIANT must be 1 or 2"
#endif

namespace {

using tarvik::RequestIndex;

constexpr int kVariant = TARVIK_VARIANT;

// Process-wide state of the loaded library. deviceHandle is null until the first open and holds
// INVALID_HANDLE_VALUE after a failed one: a failed open is not retried.
HANDLE deviceHandle = nullptr;
// Why the open failed. Later calls report it again instead of whatever their thread's last
// error happens to be.
DWORD deviceOpenError = ERROR_SUCCESS;
// Guards the open and each single request, never the alarm wait.
CRITICAL_SECTION deviceLock;
// Two threads may make the first call at once; the one-time flag makes the other wait until
// deviceLock is initialised instead of entering it half-built.
INIT_ONCE deviceLockReady = INIT_ONCE_STATIC_INIT;
// Generation 1's driver signals the alarm event by name, so the event must outlive every single
// call: a named event disappears with its last handle, and an alarm the driver raises between two
// calls would find nothing to signal. Created with deviceLock; null when that failed, with the
// reason kept for the alarm calls to report.
HANDLE sharedAlarmEvent = nullptr;
DWORD sharedAlarmEventError = ERROR_SUCCESS;
const tarvik::ControlCodeTable& controlCodes = tarvik::controlCodesForVariant(kVariant);
// One output buffer per request index, so a request the driver leaves unanswered keeps the
// value of the previous one.
LONG outputSlots[tarvik::kRequestCount];
DWORD bytesReturned[tarvik::kRequestCount];

// Owner of generation 2's per-call alarm event, closed when the alarm call no longer needs it.
struct EventHandle {
  HANDLE h = nullptr;
  explicit EventHandle(HANDLE handle) : h(handle) {}
  ~EventHandle() {
    if (h) CloseHandle(h);
  }
  EventHandle(const EventHandle&) = delete;
  EventHandle& operator=(const EventHandle&) = delete;
};

struct LockHolder {
  LockHolder() { EnterCriticalSection(&deviceLock); }
  ~LockHolder() { LeaveCriticalSection(&deviceLock); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;
};

BOOL CALLBACK initialiseDeviceLock(PINIT_ONCE, PVOID, PVOID*) {
  InitializeCriticalSection(&deviceLock);
  if (kVariant == 1) {
    sharedAlarmEvent = CreateEventA(nullptr, FALSE, FALSE, "g_kavo_shared_event");
    if (!sharedAlarmEvent) sharedAlarmEventError = GetLastError();
  }
  return TRUE;
}

void ensureDeviceLock() { InitOnceExecuteOnce(&deviceLockReady, initialiseDeviceLock, nullptr, nullptr); }

// Prints the message and, right after it, the system's text for the error. Callers take the
// error code right after the failed call: a print in between may change the last error.
void reportError(const char* message, DWORD error) {
  char text[512] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  std::printf("%s%s \n", message, text);
}

bool openDevice() {
  std::printf("Before CreateFile \n");
  LockHolder lock;
  if (deviceHandle == nullptr) {
    deviceHandle = CreateFileA("\\\\.\\Tarvik", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (deviceHandle == INVALID_HANDLE_VALUE) deviceOpenError = GetLastError();
  }
  if (deviceHandle == INVALID_HANDLE_VALUE) {
    reportError("CreateFile failed. Invalid Handle. ", deviceOpenError);
    return false;
  }
  std::printf("CreateFiled worked \n");
  return true;
}

// Issues the request of that index. False when the driver refused it; otherwise value receives
// its output slot.
bool issueRequest(RequestIndex index, DWORD inputLength, const void* input, LONG& value) {
  {
    LockHolder lock;
    BOOL ok = DeviceIoControl(deviceHandle, controlCodes[index], const_cast<void*>(input), inputLength,
                              &outputSlots[index], sizeof outputSlots[index], &bytesReturned[index], nullptr);
    DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    std::printf("DeviceIO result: %d \n", ok);
    if (!ok) {
      reportError("DeviceIO failed. ", error);
      return false;
    }
    // Read under the lock: another thread's request of the same index writes this slot.
    value = outputSlots[index];
  }
  std::printf("Before reportUpdate sync call \n");
  return true;
}

// The value of the request's output slot, or 0 when the request failed.
LONG callDevice(RequestIndex index, DWORD inputLength, const void* input) {
  LONG value = 0;
  return issueRequest(index, inputLength, input, value) ? value : 0;
}

bool deviceReady() {
  ensureDeviceLock();
  return openDevice();
}

LONG configure(RequestIndex index, jint value) {
  unsigned char buffer[4];
  for (int i = 0; i < 4; ++i) buffer[i] = static_cast<unsigned char>(static_cast<DWORD>(value) >> (8 * i));
  return callDevice(index, sizeof buffer, buffer);
}

LONG readVersion(RequestIndex index) {
  LONG version = callDevice(index, 0, nullptr);
  std::printf("Version number is +++++++++++++++++++ %ld.\n", version);
  return version;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_spoofingNI(JNIEnv*, jobject, jint value) {
  std::printf("Spoofing \n");
  if (!deviceReady()) return tarvik::openFailureResult(kVariant, tarvik::kSpoofing);
  return configure(tarvik::kSpoofing, value);
}

JNIEXPORT jint JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_configureMemoryNI(JNIEnv*, jobject,
                                                                                     jint value) {
  if (!deviceReady()) return tarvik::openFailureResult(kVariant, tarvik::kMemoryConfiguration);
  return configure(tarvik::kMemoryConfiguration, value);
}

JNIEXPORT jint JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_configureQoSNI(JNIEnv*, jobject, jint first,
                                                                                  jint second, jint third,
                                                                                  jint fourth) {
  if (!deviceReady()) return tarvik::openFailureResult(kVariant, tarvik::kQualityOfService);
  tarvik::QoSBlock block = tarvik::buildQoSBlock(first, second, third, fourth);
  return callDevice(tarvik::kQualityOfService, block.size(), block.data());
}

JNIEXPORT jint JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_getActiveConnectionsNI(JNIEnv*, jobject) {
  if (!deviceReady()) return tarvik::openFailureResult(kVariant, tarvik::kActiveConnections);
  LONG count = callDevice(tarvik::kActiveConnections, 0, nullptr);
  std::printf("result of the connectioncount  %ld \n", count);
  return count;
}

JNIEXPORT jlong JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_getTimeActiveNI(JNIEnv*, jobject) {
  if (!deviceReady()) return tarvik::openFailureResult(kVariant, tarvik::kTimeActive);
  return tarvik::timeActiveFromRaw(callDevice(tarvik::kTimeActive, 0, nullptr));
}

JNIEXPORT jint JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_getMinorVersionNI(JNIEnv*, jobject) {
  if (!deviceReady()) return tarvik::openFailureResult(kVariant, tarvik::kMinorVersion);
  return readVersion(tarvik::kMinorVersion);
}

JNIEXPORT jint JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_getMajorVersionNI(JNIEnv*, jobject) {
  if (!deviceReady()) return tarvik::openFailureResult(kVariant, tarvik::kMajorVersion);
  return readVersion(tarvik::kMajorVersion);
}

// Blocks until the driver signals an alarm. The lock is held only during the two requests, so
// other threads keep using the device while this one waits.
JNIEXPORT jint JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_getAlarmsNI(JNIEnv*, jobject) {
  if (!deviceReady()) return tarvik::openFailureResult(kVariant, tarvik::kAlarmRegistration);
  // Generation 1's driver signals the process's one auto-reset event, shared by every waiter;
  // generation 2's signals the manual-reset event of this call, whose handle it is given.
  EventHandle ownEvent(kVariant == 2 ? CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr);
  HANDLE alarmEvent = kVariant == 1 ? sharedAlarmEvent : ownEvent.h;
  if (!alarmEvent) {
    reportError("PEP_ALARM: CreateEvent failed!!", kVariant == 1 ? sharedAlarmEventError : GetLastError());
    return 0;
  }
  // Handles fit in 32 bits in 64-bit processes too, which is all the block has room for.
  tarvik::AlarmBlock block =
      tarvik::buildAlarmBlock(kVariant, static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(alarmEvent)));

  std::printf("PEP_ALARM: Before first callDevice call");
  // A driver that did not take the registration (another interface generation, no room for more
  // waiters, unloading) will never signal: waiting would block the Java thread for good.
  LONG registration;
  if (!issueRequest(tarvik::kAlarmRegistration, block.length, block.bytes.data(), registration)) return 0;
  if (WaitForSingleObject(alarmEvent, INFINITE) == WAIT_FAILED) {
    reportError("PEP_ALARM: WaitForSingleObject failed!!", GetLastError());
    return 0;
  }
  std::printf("PEP_ALARM: Before second callDevice call");
  LONG raw = callDevice(tarvik::kAlarmRead, block.length, block.bytes.data());
  // The wait already reset the shared auto-reset event; resetting it again would drop an alarm
  // the driver raised for the next waiter since.
  if (kVariant == 2) ResetEvent(alarmEvent);
  std::printf("PEP_ALARM RESULT %ld \n", raw);
  return tarvik::alarmCodeFromRaw(raw);
}

}  // extern "C"
