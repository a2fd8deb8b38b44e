#include "pep_protocol.h"

namespace tarvik {
namespace {

constexpr std::uint32_t kMethodBuffered = 0;
constexpr std::uint32_t kAnyAccess = 0;
constexpr std::uint32_t kReadWriteAccess = 3;

constexpr std::uint32_t generation1(std::uint32_t function) {
  return makeControlCode(0x12, kReadWriteAccess, function, kMethodBuffered);
}
constexpr std::uint32_t generation2(std::uint32_t function) {
  return makeControlCode(0x17, kAnyAccess, function, kMethodBuffered);
}

constexpr ControlCodeTable kGeneration1 = {
    generation1(0x206), generation1(0x207), generation1(0x208), generation1(0x210), generation1(0x201),
    generation1(0x211), generation1(0x214), generation1(0x226), generation1(0x225)};

// Memory configuration and quality of service share one code; the driver tells them apart by
// the input length (4 or 6 bytes).
constexpr ControlCodeTable kGeneration2 = {
    generation2(0x806), generation2(0x807), generation2(0x808), generation2(0x80A), generation2(0x801),
    generation2(0x80B), generation2(0x80B), generation2(0x815), generation2(0x814)};

void putLittleEndian32(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

const ControlCodeTable& controlCodesForVariant(int variant) { return variant == 2 ? kGeneration2 : kGeneration1; }

QoSBlock buildQoSBlock(std::int32_t first, std::int32_t second, std::int32_t third, std::int32_t fourth) {
  auto word = [](std::int32_t v) { return static_cast<std::uint16_t>(static_cast<std::uint32_t>(v) & 0xFFFFu); };
  std::uint16_t third16 = word(third);
  std::uint16_t fourth16 = word(fourth);
  return {static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(second),
          static_cast<std::uint8_t>(third16 & 0xFF), static_cast<std::uint8_t>(third16 >> 8),
          static_cast<std::uint8_t>(fourth16 & 0xFF), static_cast<std::uint8_t>(fourth16 >> 8)};
}

AlarmBlock buildAlarmBlock(int variant, std::uint32_t eventHandleBits) {
  AlarmBlock block;
  if (variant == 2) {
    putLittleEndian32(block.bytes.data(), eventHandleBits);
    putLittleEndian32(block.bytes.data() + 4, 1);
    block.length = 8;
  } else {
    putLittleEndian32(block.bytes.data(), 1);
    block.length = 4;
  }
  return block;
}

std::int32_t alarmCodeFromRaw(std::int32_t raw) {
  if (raw == 0) return 0;
  // Wrap-around arithmetic, as the driver's unsigned codes do, rather than signed overflow.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(raw) - 0x1000u);
}

std::int32_t openFailureResult(int variant, RequestIndex request) {
  if (request == kSpoofing) return -1;
  return variant == 2 ? 0 : -1;
}

}  // namespace tarvik
