// Loads one Tarvik.dll and plays a scenario given as steps on the command line, so that each
// scenario gets a fresh library state and its standard output can be checked whole. Results are
// printed with printf, through the same C runtime as the library's own prints, as lines that
// begin with "=> ".
//
//   spoofing:V memory:V qos:A,B,C,D connections time minor major alarms   call a native
//   set:NAME=V[,NAME=V]   simulator answers (connections time major minor reply silent)
//   last                  the simulator's last product request: code and input bytes
//   bg-alarms:N           N threads, each blocked in getAlarmsNI until an alarm comes
//   await-registrations:N wait until the simulator holds N alarm registrations in total
//   raise:RAW             raise an alarm in the simulator
//   await-finished:N:MS   wait up to MS ms until N alarm threads returned; print how many did
//   event-alive           whether the last alarm call's event still exists
//   occupy-event-name     hold a mutex under the generation 1 alarm event's name
//   first-calls:N         N threads released at once into their first getActiveConnectionsNI
//   on-thread:STEP        run one step on a new thread and wait for it
//   opens                 device opens seen by the simulator since the probe started, its own excluded
//   prints-leave-error    from now on the library's prints still print but leave the last error
//                         ERROR_INVALID_HANDLE behind, as prints to a missing standard output do
//   start-simulator:V / stop-simulator   install and start, or stop and remove, the simulator
#include <windows.h>

#include <jni.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "import_patch.h"
#include "jni_env_double.h"
#include "pep_sim_client.h"

namespace {

using IntNative = jint(JNICALL*)(JNIEnv*, jobject);
using IntNative1 = jint(JNICALL*)(JNIEnv*, jobject, jint);
using IntNative4 = jint(JNICALL*)(JNIEnv*, jobject, jint, jint, jint, jint);
using LongNative = jlong(JNICALL*)(JNIEnv*, jobject);

struct Natives {
  IntNative1 spoofing;
  IntNative1 memory;
  IntNative4 qos;
  IntNative connections;
  LongNative timeActive;
  IntNative minor;
  IntNative major;
  IntNative alarms;
};
Natives natives;
HMODULE bridge = nullptr;

std::atomic<int> finishedAlarmThreads{0};
std::vector<std::thread> alarmThreads;
pepsim::Connection* simulator = nullptr;
std::uint32_t ownOpens = 0;

[[noreturn]] void fail(const char* what, const std::string& detail = {}) {
  std::printf("=> probe error: %s %s\n", what, detail.c_str());
  std::fflush(stdout);
  ExitProcess(3);
}

template <typename T>
T bind(HMODULE dll, const char* method) {
  std::string name = std::string("Java_com_zeb_nativeresource_win_PEPIOWrapper_") + method;
  FARPROC proc = GetProcAddress(dll, name.c_str());
  if (!proc) fail("missing export", name);
  return reinterpret_cast<T>(reinterpret_cast<void*>(proc));
}

pepsim::Connection& device() {
  if (!simulator || !simulator->isOpen()) fail("the simulator is not running");
  return *simulator;
}

PepSimSnapshot snapshot() {
  PepSimSnapshot snap;
  if (!device().snapshot(snap)) fail("snapshot refused");
  return snap;
}

std::vector<long long> numbers(const std::string& text, char separator) {
  std::vector<long long> values;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    values.push_back(std::strtoll(text.substr(start, end - start).c_str(), nullptr, 0));
    start = end + 1;
  }
  return values;
}

void setSimulatorValues(const std::string& assignments) {
  PepSimSettings settings = snapshot().settings;
  std::size_t start = 0;
  while (start < assignments.size()) {
    std::size_t end = assignments.find(',', start);
    if (end == std::string::npos) end = assignments.size();
    std::string item = assignments.substr(start, end - start);
    std::size_t eq = item.find('=');
    if (eq == std::string::npos) fail("bad assignment", item);
    std::string name = item.substr(0, eq);
    long long value = std::strtoll(item.c_str() + eq + 1, nullptr, 0);
    if (name == "connections") settings.activeConnections = static_cast<std::int32_t>(value);
    else if (name == "time") settings.timeActive = static_cast<std::uint32_t>(value);
    else if (name == "major") settings.majorVersion = static_cast<std::int32_t>(value);
    else if (name == "minor") settings.minorVersion = static_cast<std::int32_t>(value);
    else if (name == "reply") settings.configurationReply = static_cast<std::int32_t>(value);
    else if (name == "silent") settings.silentRequests = static_cast<std::uint32_t>(value);
    else fail("unknown simulator value", name);
    start = end + 1;
  }
  if (!device().setValues(settings)) fail("values refused");
}

void printLastRequest() {
  PepSimSnapshot snap = snapshot();
  std::printf("=> last 0x%06lX", static_cast<unsigned long>(snap.lastCode));
  for (std::uint32_t i = 0; i < snap.lastInputLength && i < PEP_SIM_RECORDED_INPUT; ++i)
    std::printf(" %02X", snap.lastInput[i]);
  std::printf("\n");
}

// The event of the most recent alarm call: variant 2 hands its handle to the driver, which
// recorded it; variant 1 uses the shared named event.
void printEventAlive() {
  PepSimSnapshot snap = snapshot();
  bool alive;
  if (snap.variant == 2) {
    std::uint32_t bits = snap.lastInput[0] | (snap.lastInput[1] << 8) | (snap.lastInput[2] << 16) |
                         (static_cast<std::uint32_t>(snap.lastInput[3]) << 24);
    DWORD flags;
    alive = GetHandleInformation(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(bits)), &flags) != FALSE;
  } else {
    HANDLE named = OpenEventA(SYNCHRONIZE, FALSE, "g_kavo_shared_event");
    alive = named != nullptr;
    if (named) CloseHandle(named);
  }
  std::printf("=> event-alive %s\n", alive ? "yes" : "no");
}

void startAlarmThreads(int count) {
  for (int i = 0; i < count; ++i) {
    alarmThreads.emplace_back([] {
      JniEnvDouble jni;
      jint result = natives.alarms(jni.env(), jni.anyClass());
      std::printf("=> alarm-thread %ld\n", static_cast<long>(result));
      ++finishedAlarmThreads;
    });
  }
}

void awaitFinished(const std::string& arguments) {
  std::vector<long long> values = numbers(arguments, ':');
  if (values.size() != 2) fail("await-finished needs N:MS");
  DWORD start = GetTickCount();
  while (finishedAlarmThreads < values[0] && GetTickCount() - start < static_cast<DWORD>(values[1])) Sleep(5);
  std::printf("=> finished %d\n", finishedAlarmThreads.load());
}

void firstCallsAtOnce(int count) {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<jint> results(count);
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i) {
    threads.emplace_back([&, i] {
      JniEnvDouble jni;
      WaitForSingleObject(go, INFINITE);
      results[i] = natives.connections(jni.env(), jni.anyClass());
    });
  }
  Sleep(50);
  SetEvent(go);
  for (std::thread& t : threads) t.join();
  CloseHandle(go);
  std::printf("=> first-calls");
  for (jint r : results) std::printf(" %ld", static_cast<long>(r));
  std::printf("\n");
}

// The C runtime's output functions as the library imports them, each followed by the last error
// a print to a missing standard output leaves.
int __cdecl printLeavingError(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int n = std::vprintf(format, arguments);
  va_end(arguments);
  SetLastError(ERROR_INVALID_HANDLE);
  return n;
}
int __cdecl vfprintLeavingError(FILE* stream, const char* format, va_list arguments) {
  int n = std::vfprintf(stream, format, arguments);
  SetLastError(ERROR_INVALID_HANDLE);
  return n;
}
int __cdecl fputsLeavingError(const char* text, FILE* stream) {
  int n = std::fputs(text, stream);
  SetLastError(ERROR_INVALID_HANDLE);
  return n;
}
int __cdecl fputcLeavingError(int c, FILE* stream) {
  int n = std::fputc(c, stream);
  SetLastError(ERROR_INVALID_HANDLE);
  return n;
}
std::size_t __cdecl fwriteLeavingError(const void* data, std::size_t size, std::size_t count, FILE* stream) {
  std::size_t n = std::fwrite(data, size, count, stream);
  SetLastError(ERROR_INVALID_HANDLE);
  return n;
}

void makePrintsLeaveAnError() {
  const std::pair<const char*, void*> replacements[] = {
      {"printf", reinterpret_cast<void*>(&printLeavingError)},
      {"vfprintf", reinterpret_cast<void*>(&vfprintLeavingError)},
      {"fputs", reinterpret_cast<void*>(&fputsLeavingError)},
      {"fputc", reinterpret_cast<void*>(&fputcLeavingError)},
      {"fwrite", reinterpret_cast<void*>(&fwriteLeavingError)}};
  bool any = false;
  for (const auto& [function, replacement] : replacements) {
    // Kept for the rest of the process, like the library itself.
    any |= (new ImportPatch(bridge, "msvcrt.dll", function, replacement))->ok();
  }
  if (!any) fail("the library imports none of the C runtime's output functions");
}

void openSimulatorConnection() {
  delete simulator;
  simulator = new pepsim::Connection();
  ownOpens = simulator->isOpen() ? snapshot().opens : 0;
}

void runStep(const std::string& step, JniEnvDouble& jni) {
  std::size_t colon = step.find(':');
  std::string verb = step.substr(0, colon);
  std::string argument = colon == std::string::npos ? std::string() : step.substr(colon + 1);
  JNIEnv* env = jni.env();
  jobject self = jni.anyClass();
  if (verb == "spoofing") {
    std::printf("=> spoofing %ld\n", static_cast<long>(natives.spoofing(env, self, std::strtol(argument.c_str(), nullptr, 0))));
  } else if (verb == "memory") {
    std::printf("=> memory %ld\n", static_cast<long>(natives.memory(env, self, std::strtol(argument.c_str(), nullptr, 0))));
  } else if (verb == "qos") {
    std::vector<long long> v = numbers(argument, ',');
    if (v.size() != 4) fail("qos needs four values");
    std::printf("=> qos %ld\n", static_cast<long>(natives.qos(env, self, static_cast<jint>(v[0]), static_cast<jint>(v[1]),
                                                             static_cast<jint>(v[2]), static_cast<jint>(v[3]))));
  } else if (verb == "connections") {
    std::printf("=> connections %ld\n", static_cast<long>(natives.connections(env, self)));
  } else if (verb == "time") {
    std::printf("=> time %lld\n", static_cast<long long>(natives.timeActive(env, self)));
  } else if (verb == "minor") {
    std::printf("=> minor %ld\n", static_cast<long>(natives.minor(env, self)));
  } else if (verb == "major") {
    std::printf("=> major %ld\n", static_cast<long>(natives.major(env, self)));
  } else if (verb == "alarms") {
    std::printf("=> alarms %ld\n", static_cast<long>(natives.alarms(env, self)));
  } else if (verb == "set") {
    setSimulatorValues(argument);
  } else if (verb == "last") {
    printLastRequest();
  } else if (verb == "bg-alarms") {
    startAlarmThreads(std::atoi(argument.c_str()));
  } else if (verb == "await-registrations") {
    if (!device().awaitAlarmRegistrations(std::strtoul(argument.c_str(), nullptr, 0), 10000))
      fail("alarm registrations did not arrive", argument);
  } else if (verb == "raise") {
    std::uint32_t signalled;
    if (!device().raiseAlarm(std::strtol(argument.c_str(), nullptr, 0), signalled)) fail("raise refused");
    std::printf("=> raised %lu\n", static_cast<unsigned long>(signalled));
  } else if (verb == "await-finished") {
    awaitFinished(argument);
  } else if (verb == "event-alive") {
    printEventAlive();
  } else if (verb == "occupy-event-name") {
    // Kept open until the probe ends: an event of that name can then no longer be created.
    if (!CreateMutexA(nullptr, FALSE, "g_kavo_shared_event")) fail("CreateMutex failed");
  } else if (verb == "first-calls") {
    firstCallsAtOnce(std::atoi(argument.c_str()));
  } else if (verb == "on-thread") {
    std::thread([&argument] {
      JniEnvDouble threadJni;
      runStep(argument, threadJni);
    }).join();
  } else if (verb == "prints-leave-error") {
    makePrintsLeaveAnError();
  } else if (verb == "opens") {
    std::printf("=> opens %lu\n", static_cast<unsigned long>(snapshot().opens - ownOpens));
  } else if (verb == "start-simulator") {
    std::string error = pepsim::installAndStart(pepsim::driverBesideProgram(), std::atoi(argument.c_str()));
    if (!error.empty()) fail("simulator start failed", error);
    openSimulatorConnection();
  } else if (verb == "stop-simulator") {
    delete simulator;
    simulator = nullptr;
    std::string error = pepsim::stopAndRemove();
    if (!error.empty()) fail("simulator stop failed", error);
  } else {
    fail("unknown step", step);
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: tarvik_probe <Tarvik.dll> <step>...\n", stderr);
    return 2;
  }
  HMODULE dll = LoadLibraryA(argv[1]);
  if (!dll) fail("LoadLibrary failed", argv[1]);
  bridge = dll;
  natives = {bind<IntNative1>(dll, "spoofingNI"),        bind<IntNative1>(dll, "configureMemoryNI"),
             bind<IntNative4>(dll, "configureQoSNI"),    bind<IntNative>(dll, "getActiveConnectionsNI"),
             bind<LongNative>(dll, "getTimeActiveNI"),   bind<IntNative>(dll, "getMinorVersionNI"),
             bind<IntNative>(dll, "getMajorVersionNI"), bind<IntNative>(dll, "getAlarmsNI")};
  openSimulatorConnection();
  JniEnvDouble jni;
  for (int i = 2; i < argc; ++i) runStep(argv[i], jni);
  std::fflush(stdout);
  // Alarm threads still blocked are part of the scenario's outcome, not a hang: leave them.
  for (std::thread& t : alarmThreads) t.detach();
  ExitProcess(0);
}
