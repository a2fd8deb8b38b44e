// Command-line controller of the PEP driver simulator, for tests and for developers of the Java
// application who want a \\.\Tarvik device under Wine.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pep_sim_client.h"

namespace {

int usage() {
  std::fputs(
      "usage: pep_sim_ctl install <1|2> [driver.sys]   register and start the simulator for a driver interface\n"
      "       pep_sim_ctl remove                        stop and unregister it\n"
      "       pep_sim_ctl status                        print its state and the last request received\n"
      "       pep_sim_ctl set <name> <value>...         names: connections time major minor reply silent\n"
      "       pep_sim_ctl alarm <raw value>             raise an alarm (the bridge subtracts 4096)\n",
      stderr);
  return 2;
}

bool parseNumber(const char* text, long long& value) {
  char* end = nullptr;
  value = std::strtoll(text, &end, 0);
  return end != text && *end == '\0';
}

int printStatus(pepsim::Connection& device) {
  PepSimSnapshot snap;
  if (!device.snapshot(snap)) return std::fputs("the simulator does not answer\n", stderr), 1;
  std::printf("variant %u\nconnections %ld\ntime %lu\nversion %ld.%ld\nreply %ld\nsilent 0x%lx\n", snap.variant,
              (long)snap.settings.activeConnections, (unsigned long)snap.settings.timeActive,
              (long)snap.settings.majorVersion, (long)snap.settings.minorVersion,
              (long)snap.settings.configurationReply, (unsigned long)snap.settings.silentRequests);
  std::printf("spoofing %ld\nmemory %ld\nqos %02X %02X %02X %02X %02X %02X\n", (long)snap.spoofing,
              (long)snap.memory, snap.qos[0], snap.qos[1], snap.qos[2], snap.qos[3], snap.qos[4], snap.qos[5]);
  std::printf("opens %lu\nrequests %lu\nalarm registrations %lu\npending alarm %ld\nlast 0x%08lX", (unsigned long)snap.opens,
              (unsigned long)snap.totalRequests, (unsigned long)snap.alarmRegistrations, (long)snap.pendingAlarm,
              (unsigned long)snap.lastCode);
  for (uint32_t i = 0; i < snap.lastInputLength && i < PEP_SIM_RECORDED_INPUT; ++i) std::printf(" %02X", snap.lastInput[i]);
  std::printf("\n");
  return 0;
}

int setValues(pepsim::Connection& device, int argc, char** argv) {
  PepSimSnapshot snap;
  if (!device.snapshot(snap)) return std::fputs("the simulator does not answer\n", stderr), 1;
  PepSimSettings settings = snap.settings;
  if (argc % 2 != 0) return usage();
  for (int i = 0; i < argc; i += 2) {
    long long value;
    if (!parseNumber(argv[i + 1], value)) return usage();
    std::string name = argv[i];
    if (name == "connections") settings.activeConnections = static_cast<int32_t>(value);
    else if (name == "time") settings.timeActive = static_cast<uint32_t>(value);
    else if (name == "major") settings.majorVersion = static_cast<int32_t>(value);
    else if (name == "minor") settings.minorVersion = static_cast<int32_t>(value);
    else if (name == "reply") settings.configurationReply = static_cast<int32_t>(value);
    else if (name == "silent") settings.silentRequests = static_cast<uint32_t>(value);
    else return usage();
  }
  if (!device.setValues(settings)) return std::fputs("the simulator refused the values\n", stderr), 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string command = argv[1];
  if (command == "install" && (argc == 3 || argc == 4)) {
    int variant = std::atoi(argv[2]);
    if (variant != 1 && variant != 2) return usage();
    std::string error = pepsim::installAndStart(argc == 4 ? argv[3] : pepsim::driverBesideProgram(), variant);
    if (!error.empty()) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    std::printf("simulator running for variant %d\n", variant);
    return 0;
  }
  if (command == "remove" && argc == 2) {
    std::string error = pepsim::stopAndRemove();
    if (!error.empty()) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    return 0;
  }
  pepsim::Connection device;
  if (!device.isOpen()) return std::fputs("the simulator is not running\n", stderr), 1;
  if (command == "status" && argc == 2) return printStatus(device);
  if (command == "set" && argc >= 4) return setValues(device, argc - 2, argv + 2);
  if (command == "alarm" && argc == 3) {
    long long value;
    uint32_t signalled;
    if (!parseNumber(argv[2], value)) return usage();
    if (!device.raiseAlarm(static_cast<int32_t>(value), signalled)) return std::fputs("the simulator refused the alarm\n", stderr), 1;
    std::printf("alarm %lld signalled to %u event(s)\n", value, signalled);
    return 0;
  }
  return usage();
}
