// User-mode side of the PEP driver simulator: installs, starts, stops and removes its service
// through the service control manager, and talks to the running driver.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "pep_sim_protocol.h"

namespace pepsim {

// The simulator driver built beside the running program.
std::string driverBesideProgram();

// Registers the service for one driver-interface variant (1 or 2), replacing an earlier
// registration, and starts it. Returns an empty string or what failed.
std::string installAndStart(const std::string& driverPath, int variant);
// Stops the service if it runs and deletes it; nothing to do is not an error.
std::string stopAndRemove();
// Whether the service is registered with the service control manager.
bool isRegistered();

// A handle on \\.\Tarvik for the private requests. The product opens the device without
// sharing; the simulator does not enforce share modes, so both can be open together.
class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  bool isOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

  bool setValues(const PepSimSettings& settings);
  bool snapshot(PepSimSnapshot& out);
  // Stores the raw value for the next alarm read and signals; the number of events signalled.
  bool raiseAlarm(std::int32_t rawValue, std::uint32_t& signalled);
  // Polls the snapshot until at least count alarm registrations arrived or timeoutMs passed.
  bool awaitAlarmRegistrations(std::uint32_t count, DWORD timeoutMs);

 private:
  HANDLE handle_;
};

}  // namespace pepsim
