// The PEP driver's interface as the bridge sees it: control codes of both driver generations,
// the input blocks it sends and how it reads the driver's answers. No Win32 here.
#pragma once
#include <array>
#include <cstdint>

namespace tarvik {

// Index of each request; every index has its own control code and output slot.
enum RequestIndex : int {
  kActiveConnections = 0,
  kTimeActive = 1,
  kAlarmRegistration = 2,
  kAlarmRead = 3,
  kSpoofing = 4,
  kMemoryConfiguration = 5,
  kQualityOfService = 6,
  kMinorVersion = 7,
  kMajorVersion = 8,
};
constexpr int kRequestCount = 9;

using ControlCodeTable = std::array<std::uint32_t, kRequestCount>;

// The standard Windows layout: device type 16-31, access 14-15, function 2-13, method 0-1.
constexpr std::uint32_t makeControlCode(std::uint32_t deviceType, std::uint32_t access, std::uint32_t function,
                                        std::uint32_t method) {
  return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

// The table of driver-interface generation 1 or 2; any other number yields generation 1's.
const ControlCodeTable& controlCodesForVariant(int variant);

using QoSBlock = std::array<std::uint8_t, 6>;
// Packed little-endian: two bytes, then two 16-bit words, each truncated from its argument.
QoSBlock buildQoSBlock(std::int32_t first, std::int32_t second, std::int32_t third, std::int32_t fourth);

// The block sent with both alarm requests. Generation 1 sends only the value 1 (its driver signals
// an event it knows by name); generation 2 puts the waiting thread's event handle in front.
struct AlarmBlock {
  std::array<std::uint8_t, 8> bytes{};
  std::uint32_t length = 0;
};
AlarmBlock buildAlarmBlock(int variant, std::uint32_t eventHandleBits);

// The driver reports alarm codes offset by 4096; 0 means no alarm.
std::int32_t alarmCodeFromRaw(std::int32_t raw);

// What a native returns when the device cannot be opened.
std::int32_t openFailureResult(int variant, RequestIndex request);

// The time-active answer is a signed 32-bit value widened for Java's long.
inline std::int64_t timeActiveFromRaw(std::int32_t raw) { return raw; }

}  // namespace tarvik
