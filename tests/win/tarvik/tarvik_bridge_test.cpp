// Tarvik.dll of both driver-interface generations against the kernel-mode PEP driver simulator
// (and without it), each scenario in a fresh probe process so that the library's once-only state
// and its prints are those of one Java process.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "child_process.h"
#include "pep_sim_client.h"

namespace {

struct Expected {
  const char* codes[9];  // control code per request index, as the probe prints them
  const char* alarmBlockTail;  // bytes of the alarm block after the variant 2 handle
};
// Written out from the driver documentation rather than taken from the library's tables.
const Expected kGeneration[3] = {
    {},
    {{"0x12C818", "0x12C81C", "0x12C820", "0x12C840", "0x12C804", "0x12C844", "0x12C850", "0x12C898", "0x12C894"},
     " 01 00 00 00"},
    {{"0x172018", "0x17201C", "0x172020", "0x172028", "0x172004", "0x17202C", "0x17202C", "0x172054", "0x172050"},
     " 01 00 00 00"}};

std::string bridgeDll(int variant) { return testBinDir() + "tarvik" + std::to_string(variant) + "\\Tarvik.dll"; }

struct ProbeOutput {
  std::string out;
  DWORD exitCode = 0;

  // The values of every "=> name value" line, in order.
  std::vector<std::string> all(const std::string& name) const {
    std::vector<std::string> values;
    std::string marker = "=> " + name + " ";
    for (std::size_t at = out.find(marker); at != std::string::npos; at = out.find(marker, at + 1)) {
      std::size_t start = at + marker.size();
      values.push_back(out.substr(start, out.find('\n', start) - start));
    }
    return values;
  }
  std::string one(const std::string& name) const {
    std::vector<std::string> values = all(name);
    return values.size() == 1 ? values[0] : "<" + std::to_string(values.size()) + " results>";
  }
  std::size_t count(const std::string& text) const {
    std::size_t n = 0;
    for (std::size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++n;
    return n;
  }
};

ProbeOutput runProbe(int variant, std::vector<std::string> steps) {
  steps.insert(steps.begin(), bridgeDll(variant));
  ChildResult child = runChild(testBinDir() + "tarvik_probe.exe", steps, {}, 60000);
  EXPECT_FALSE(child.timedOut) << child.out;
  EXPECT_EQ(child.exitCode, 0u) << child.out << child.err;
  // Standard output is in text mode: every "\n" arrives as "\r\n".
  child.out.erase(std::remove(child.out.begin(), child.out.end(), '\r'), child.out.end());
  return {child.out, child.exitCode};
}

// The system's text for an error code, as the library prints it (line breaks as the probe
// output has them).
std::string systemText(DWORD error) {
  char text[512] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  std::string line = text;
  line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
  return line;
}

// The system's text for the error that opening a missing device gives, as the library prints it.
std::string openFailureLine() {
  HANDLE h = CreateFileA("\\\\.\\Tarvik", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  DWORD error = GetLastError();
  char text[512] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  EXPECT_STRNE(text, "");
  std::string line = std::string("CreateFile failed. Invalid Handle. ") + text + " \n";
  line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
  return line;
}

bool deviceOpens() {
  HANDLE h = CreateFileA("\\\\.\\Tarvik", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

class TarvikWithoutDriver : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ASSERT_EQ(pepsim::stopAndRemove(), "");
    ASSERT_FALSE(deviceOpens());
  }
  void TearDown() override { EXPECT_EQ(pepsim::stopAndRemove(), ""); }
};

TEST_P(TarvikWithoutDriver, EveryNativeReportsTheFailedOpenAndReturnsItsFailureValue) {
  int variant = GetParam();
  std::string failed = variant == 1 ? "-1" : "0";
  // The last call runs on another thread, which has a last-error value of its own.
  ProbeOutput run = runProbe(variant, {"spoofing:1", "memory:2", "qos:1,2,3,4", "connections", "time", "minor",
                                       "major", "alarms", "on-thread:spoofing:0"});
  EXPECT_EQ(run.all("spoofing"), (std::vector<std::string>{"-1", "-1"}));
  EXPECT_EQ(run.one("memory"), failed);
  EXPECT_EQ(run.one("qos"), failed);
  EXPECT_EQ(run.one("connections"), failed);
  EXPECT_EQ(run.one("time"), failed);
  EXPECT_EQ(run.one("minor"), failed);
  EXPECT_EQ(run.one("major"), failed);
  EXPECT_EQ(run.one("alarms"), failed);
  // Each call tries to use the device and prints the failure again; none reaches a request.
  std::string failure = openFailureLine();
  EXPECT_EQ(run.count("Before CreateFile \n" + failure), 9u) << run.out;
  EXPECT_EQ(run.count("Spoofing \nBefore CreateFile \n"), 2u) << run.out;
  EXPECT_EQ(run.count("DeviceIO"), 0u);
  EXPECT_EQ(run.count("PEP_ALARM"), 0u);
}

TEST_P(TarvikWithoutDriver, AFailedOpenIsNotRetriedOnceTheDriverAppears) {
  int variant = GetParam();
  ProbeOutput run = runProbe(variant, {"connections", "start-simulator:" + std::to_string(variant), "set:connections=5",
                                       "connections", "spoofing:1", "opens", "stop-simulator"});
  std::string failed = variant == 1 ? "-1" : "0";
  EXPECT_EQ(run.all("connections"), (std::vector<std::string>{failed, failed}));
  EXPECT_EQ(run.one("spoofing"), "-1");
  EXPECT_EQ(run.one("opens"), "0");
  EXPECT_EQ(run.count("CreateFile failed. Invalid Handle. "), 3u);
}

INSTANTIATE_TEST_SUITE_P(BothGenerations, TarvikWithoutDriver, ::testing::Values(1, 2));

class TarvikWithDriver : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ASSERT_EQ(pepsim::installAndStart(pepsim::driverBesideProgram(), GetParam()), "");
  }
  void TearDown() override {
    EXPECT_EQ(pepsim::stopAndRemove(), "");
    EXPECT_FALSE(pepsim::isRegistered());
    EXPECT_FALSE(deviceOpens()) << "the simulator outlived its test";
  }
  const Expected& expected() const { return kGeneration[GetParam()]; }
  std::string last(int index, const std::string& bytes = "") const {
    return std::string(expected().codes[index]) + bytes;
  }
};

TEST_P(TarvikWithDriver, ConfigurationRequestsCarryTheirInputAndReturnTheDriversValue) {
  ProbeOutput run = runProbe(GetParam(), {"set:reply=0x55", "spoofing:1", "last", "set:reply=-7", "memory:0x01020304",
                                          "last", "set:reply=0x12345678", "qos:0x1FF,2,0x12345,7", "last"});
  EXPECT_EQ(run.one("spoofing"), "85");
  EXPECT_EQ(run.one("memory"), "-7");
  EXPECT_EQ(run.one("qos"), "305419896");
  EXPECT_EQ(run.all("last"), (std::vector<std::string>{last(4, " 01 00 00 00"), last(5, " 04 03 02 01"),
                                                        last(6, " FF 02 45 23 07 00")}));
  EXPECT_EQ(run.count("Spoofing \nBefore CreateFile \nCreateFiled worked \nDeviceIO result: 1 \n"
                      "Before reportUpdate sync call \n"),
            1u)
      << run.out;
  EXPECT_EQ(run.count("DeviceIO failed"), 0u);

  pepsim::Connection device;
  PepSimSnapshot snap;
  ASSERT_TRUE(device.snapshot(snap));
  EXPECT_EQ(snap.spoofing, 1);
  EXPECT_EQ(snap.memory, 0x01020304);
  EXPECT_EQ(std::vector<std::uint8_t>(snap.qos, snap.qos + 6),
            (std::vector<std::uint8_t>{0xFF, 0x02, 0x45, 0x23, 0x07, 0x00}));
}

TEST_P(TarvikWithDriver, ReadRequestsReturnTheDriversValue) {
  ProbeOutput run = runProbe(GetParam(), {"set:connections=7,time=0xFFFFFFFF,major=3,minor=14", "connections", "last",
                                          "time", "last", "major", "last", "minor", "last"});
  EXPECT_EQ(run.one("connections"), "7");
  EXPECT_EQ(run.one("time"), "-1");  // 0xFFFFFFFF is a signed 32-bit value widened for Java's long
  EXPECT_EQ(run.one("major"), "3");
  EXPECT_EQ(run.one("minor"), "14");
  EXPECT_EQ(run.all("last"), (std::vector<std::string>{last(0), last(1), last(8), last(7)}));
  EXPECT_EQ(run.count("result of the connectioncount  7 \n"), 1u) << run.out;
  EXPECT_EQ(run.count("Version number is +++++++++++++++++++ 3.\n"), 1u);
  EXPECT_EQ(run.count("Version number is +++++++++++++++++++ 14.\n"), 1u);
  EXPECT_EQ(run.count("CreateFiled worked \n"), 4u);
}

TEST_P(TarvikWithDriver, ARequestTheDriverLeavesUnansweredReturnsTheSlotsPreviousValue) {
  // Bit n silences request index n: 0 active connections, 8 major version.
  ProbeOutput run = runProbe(GetParam(), {"set:connections=7", "connections", "set:connections=9,silent=0x101",
                                          "connections", "major", "set:silent=0", "connections"});
  EXPECT_EQ(run.all("connections"), (std::vector<std::string>{"7", "7", "9"}));
  EXPECT_EQ(run.one("major"), "0");  // never written: the slot's initial zero
}

TEST_P(TarvikWithDriver, AlarmCodesArriveWithoutTheDriverOffset) {
  ProbeOutput run = runProbe(GetParam(), {"bg-alarms:1", "await-registrations:1", "last", "raise:4097",
                                          "await-finished:1:10000", "last", "bg-alarms:1", "await-registrations:2",
                                          "raise:100", "await-finished:2:10000", "bg-alarms:1",
                                          "await-registrations:3", "raise:0", "await-finished:3:10000"});
  EXPECT_EQ(run.all("alarm-thread"), (std::vector<std::string>{"1", "-3996", "0"})) << run.out;
  std::vector<std::string> requests = run.all("last");
  ASSERT_EQ(requests.size(), 2u);
  if (GetParam() == 1) {
    EXPECT_EQ(requests[0], last(2, " 01 00 00 00"));
    EXPECT_EQ(requests[1], last(3, " 01 00 00 00"));
  } else {
    // The waiting thread's event handle, then the value 1.
    EXPECT_EQ(requests[0].rfind(last(2, " "), 0), 0u) << requests[0];
    EXPECT_EQ(requests[0].size(), last(2).size() + 8 * 3);
    EXPECT_EQ(requests[0].substr(requests[0].size() - 12), " 01 00 00 00");
    EXPECT_EQ(requests[1].rfind(last(3, " "), 0), 0u) << requests[1];
    EXPECT_EQ(requests[1].substr(last(3).size()), requests[0].substr(last(2).size()))
        << "both alarm requests carry the same block";
  }
  // The probe's main thread prints while the alarm threads run, so only whole texts are counted.
  EXPECT_EQ(run.count("PEP_ALARM: Before first callDevice call"), 3u) << run.out;
  EXPECT_EQ(run.count("PEP_ALARM: Before second callDevice call"), 3u);
  EXPECT_EQ(run.count("DeviceIO result: 1 \n"), 6u);
  EXPECT_EQ(run.count("PEP_ALARM RESULT 4097 \n"), 1u);
  EXPECT_EQ(run.count("PEP_ALARM RESULT 100 \n"), 1u);
}

TEST_P(TarvikWithDriver, AThreadWaitingForAnAlarmDoesNotStopTheOtherNatives) {
  ProbeOutput run = runProbe(GetParam(), {"set:connections=4,major=2", "bg-alarms:1", "await-registrations:1",
                                          "spoofing:1", "memory:64", "qos:1,2,3,4", "connections", "time", "minor",
                                          "major", "await-finished:1:200", "raise:4098", "await-finished:1:10000"});
  EXPECT_EQ(run.one("connections"), "4");
  EXPECT_EQ(run.one("major"), "2");
  EXPECT_EQ(run.one("spoofing"), "1");
  EXPECT_EQ(run.all("finished"), (std::vector<std::string>{"0", "1"})) << run.out;
  EXPECT_EQ(run.one("alarm-thread"), "2");
}

TEST_P(TarvikWithDriver, SimultaneousFirstCallsOpenTheDeviceOnce) {
  ProbeOutput run = runProbe(GetParam(), {"set:connections=6", "first-calls:8", "opens", "connections", "opens"});
  EXPECT_EQ(run.one("first-calls"), "6 6 6 6 6 6 6 6");
  EXPECT_EQ(run.all("opens"), (std::vector<std::string>{"1", "1"}));
  EXPECT_EQ(run.count("CreateFiled worked \n"), 9u);
}

TEST_P(TarvikWithDriver, TheOtherGenerationsDriverRefusesEveryRequest) {
  int other = 3 - GetParam();
  ASSERT_EQ(pepsim::installAndStart(pepsim::driverBesideProgram(), other), "");
  ProbeOutput run = runProbe(GetParam(), {"set:connections=3,reply=9", "spoofing:1", "connections", "time", "major"});
  EXPECT_EQ(run.one("spoofing"), "0");
  EXPECT_EQ(run.one("connections"), "0");
  EXPECT_EQ(run.one("time"), "0");
  EXPECT_EQ(run.one("major"), "0");
  EXPECT_EQ(run.count("DeviceIO result: 0 \nDeviceIO failed. "), 4u) << run.out;
  EXPECT_EQ(run.count("Before reportUpdate sync call"), 0u);
}

// The driver's error is what the failure line names, even when the prints made after the
// failed request change the thread's last error.
TEST_P(TarvikWithDriver, ARefusedRequestIsReportedWithTheDriversError) {
  int other = 3 - GetParam();
  ASSERT_EQ(pepsim::installAndStart(pepsim::driverBesideProgram(), other), "");
  ProbeOutput run = runProbe(GetParam(), {"prints-leave-error", "connections"});
  EXPECT_EQ(run.one("connections"), "0");
  // The simulator refuses an unknown control code as a driver does: an invalid device request.
  EXPECT_EQ(run.count("DeviceIO result: 0 \nDeviceIO failed. " + systemText(ERROR_INVALID_FUNCTION) + " \n"), 1u)
      << run.out;
  EXPECT_EQ(run.count(systemText(ERROR_INVALID_HANDLE)), 0u) << run.out;
}

// The other generation's driver never takes the registration, so no alarm can ever come: the
// call fails at once instead of blocking its Java thread.
TEST_P(TarvikWithDriver, AnAlarmRegistrationTheDriverRefusesFailsTheCallAtOnce) {
  int other = 3 - GetParam();
  ASSERT_EQ(pepsim::installAndStart(pepsim::driverBesideProgram(), other), "");
  ProbeOutput run = runProbe(GetParam(), {"bg-alarms:1", "await-finished:1:10000"});
  EXPECT_EQ(run.one("finished"), "1") << run.out;
  EXPECT_EQ(run.one("alarm-thread"), "0");
  EXPECT_EQ(run.count("PEP_ALARM: Before first callDevice callDeviceIO result: 0 \nDeviceIO failed. "), 1u)
      << run.out;
  EXPECT_EQ(run.count("PEP_ALARM: Before second callDevice call"), 0u);
}

INSTANTIATE_TEST_SUITE_P(BothGenerations, TarvikWithDriver, ::testing::Values(1, 2));

// Generation 1's waiters share one auto-reset event: one alarm wakes exactly one of them.
TEST(TarvikGeneration1Alarms, OneSignalWakesOneOfTwoWaiters) {
  ASSERT_EQ(pepsim::installAndStart(pepsim::driverBesideProgram(), 1), "");
  ProbeOutput run = runProbe(1, {"bg-alarms:2", "await-registrations:2", "raise:4098", "await-finished:1:10000",
                                 "await-finished:2:500", "raise:4099", "await-finished:2:10000"});
  EXPECT_EQ(pepsim::stopAndRemove(), "");
  EXPECT_EQ(run.all("finished"), (std::vector<std::string>{"1", "1", "2"})) << run.out;
  std::vector<std::string> results = run.all("alarm-thread");
  std::sort(results.begin(), results.end());
  EXPECT_EQ(results, (std::vector<std::string>{"2", "3"}));
}

TEST(TarvikGeneration1Alarms, AnEventNameTakenByAnotherObjectFailsTheCallWithoutWaiting) {
  ASSERT_EQ(pepsim::installAndStart(pepsim::driverBesideProgram(), 1), "");
  ProbeOutput run = runProbe(1, {"occupy-event-name", "alarms", "connections"});
  PepSimSnapshot snap{};
  {
    pepsim::Connection device;
    EXPECT_TRUE(device.snapshot(snap));
  }
  EXPECT_EQ(pepsim::stopAndRemove(), "");
  EXPECT_EQ(run.one("alarms"), "0");
  EXPECT_EQ(run.count("PEP_ALARM: CreateEvent failed!!"), 1u) << run.out;
  EXPECT_EQ(run.count("PEP_ALARM: Before first callDevice call"), 0u);
  EXPECT_EQ(snap.alarmRegistrations, 0u);
  EXPECT_EQ(snap.requests[2], 0u);
  EXPECT_EQ(run.one("connections"), "0");  // the library still works afterwards
}

// The driver signals the event by name whenever an alarm comes, also while no call waits; the
// library keeps the event alive, so the next call takes that alarm at once.
TEST(TarvikGeneration1Alarms, AnAlarmRaisedBetweenTwoCallsReachesTheNextCall) {
  ASSERT_EQ(pepsim::installAndStart(pepsim::driverBesideProgram(), 1), "");
  ProbeOutput run = runProbe(1, {"bg-alarms:1", "await-registrations:1", "raise:4097", "await-finished:1:10000",
                                 "raise:4098", "event-alive", "bg-alarms:1", "await-finished:2:10000"});
  EXPECT_EQ(pepsim::stopAndRemove(), "");
  EXPECT_EQ(run.all("raised"), (std::vector<std::string>{"1", "1"})) << run.out;
  EXPECT_EQ(run.one("event-alive"), "yes");
  EXPECT_EQ(run.all("finished"), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(run.all("alarm-thread"), (std::vector<std::string>{"1", "2"}));
}

// Generation 2 hands each call's own event to the driver; nothing is left open after the call.
TEST(TarvikGeneration2Alarms, TheCallsEventIsClosedWhenTheCallReturns) {
  ASSERT_EQ(pepsim::installAndStart(pepsim::driverBesideProgram(), 2), "");
  ProbeOutput run = runProbe(2, {"bg-alarms:1", "await-registrations:1", "event-alive", "raise:4097",
                                 "await-finished:1:10000", "event-alive"});
  EXPECT_EQ(pepsim::stopAndRemove(), "");
  EXPECT_EQ(run.one("alarm-thread"), "1");
  EXPECT_EQ(run.all("event-alive"), (std::vector<std::string>{"yes", "no"})) << run.out;
}

// The simulator holds at most eight waiters' events and refuses the ninth registration.
TEST(TarvikGeneration2Alarms, AWaiterTheDriverHasNoRoomForFailsAtOnce) {
  ASSERT_EQ(pepsim::installAndStart(pepsim::driverBesideProgram(), 2), "");
  ProbeOutput run = runProbe(2, {"bg-alarms:8", "await-registrations:8", "bg-alarms:1", "await-finished:1:10000",
                                 "raise:4101", "await-finished:9:10000"});
  EXPECT_EQ(pepsim::stopAndRemove(), "");
  EXPECT_EQ(run.all("finished"), (std::vector<std::string>{"1", "9"})) << run.out;
  EXPECT_EQ(run.one("raised"), "8");
  std::vector<std::string> results = run.all("alarm-thread");
  std::sort(results.begin(), results.end());
  EXPECT_EQ(results, (std::vector<std::string>{"0", "5", "5", "5", "5", "5", "5", "5", "5"}));
  EXPECT_EQ(run.count("DeviceIO failed. "), 1u);
}

// Generation 2 hands each waiter's own event to the driver, which signals all of them.
TEST(TarvikGeneration2Alarms, OneAlarmWakesEveryWaiter) {
  ASSERT_EQ(pepsim::installAndStart(pepsim::driverBesideProgram(), 2), "");
  ProbeOutput run = runProbe(2, {"bg-alarms:2", "await-registrations:2", "raise:4100", "await-finished:2:10000"});
  EXPECT_EQ(pepsim::stopAndRemove(), "");
  EXPECT_EQ(run.one("raised"), "2");
  EXPECT_EQ(run.all("alarm-thread"), (std::vector<std::string>{"4", "4"})) << run.out;
}

}  // namespace
