// The PEP bridge's control-code tables, input blocks and answer mapping.
#include <gtest/gtest.h>

#include "pep_protocol.h"

namespace {

using tarvik::ControlCodeTable;

struct CodeFields {
  std::uint32_t deviceType, access, function, method;
};
CodeFields split(std::uint32_t code) {
  return {code >> 16, (code >> 14) & 3, (code >> 2) & 0xFFF, code & 3};
}

TEST(TarvikControlCodes, Generation1TableMatchesTheDriver) {
  const ControlCodeTable expected = {0x12C818, 0x12C81C, 0x12C820, 0x12C840, 0x12C804,
                                     0x12C844, 0x12C850, 0x12C898, 0x12C894};
  EXPECT_EQ(tarvik::controlCodesForVariant(1), expected);
}

TEST(TarvikControlCodes, Generation2TableMatchesTheDriver) {
  const ControlCodeTable expected = {0x172018, 0x17201C, 0x172020, 0x172028, 0x172004,
                                     0x17202C, 0x17202C, 0x172054, 0x172050};
  EXPECT_EQ(tarvik::controlCodesForVariant(2), expected);
}

TEST(TarvikControlCodes, CodesFollowTheWindowsLayout) {
  const std::uint32_t functions1[] = {0x206, 0x207, 0x208, 0x210, 0x201, 0x211, 0x214, 0x226, 0x225};
  const std::uint32_t functions2[] = {0x806, 0x807, 0x808, 0x80A, 0x801, 0x80B, 0x80B, 0x815, 0x814};
  for (int i = 0; i < tarvik::kRequestCount; ++i) {
    SCOPED_TRACE(i);
    CodeFields v1 = split(tarvik::controlCodesForVariant(1)[i]);
    EXPECT_EQ(v1.deviceType, 0x12u);
    EXPECT_EQ(v1.access, 3u);  // read and write
    EXPECT_EQ(v1.function, functions1[i]);
    EXPECT_EQ(v1.method, 0u);  // buffered
    CodeFields v2 = split(tarvik::controlCodesForVariant(2)[i]);
    EXPECT_EQ(v2.deviceType, 0x17u);
    EXPECT_EQ(v2.access, 0u);  // any
    EXPECT_EQ(v2.function, functions2[i]);
    EXPECT_EQ(v2.method, 0u);
  }
  EXPECT_EQ(tarvik::makeControlCode(0x22, 0, 1, 0), 0x220004u);
}

TEST(TarvikControlCodes, OnlyGeneration2SharesMemoryAndQoSCode) {
  EXPECT_EQ(tarvik::controlCodesForVariant(2)[tarvik::kMemoryConfiguration],
            tarvik::controlCodesForVariant(2)[tarvik::kQualityOfService]);
  EXPECT_NE(tarvik::controlCodesForVariant(1)[tarvik::kMemoryConfiguration],
            tarvik::controlCodesForVariant(1)[tarvik::kQualityOfService]);
}

TEST(TarvikQoSBlock, TruncatesEachArgumentToItsField) {
  tarvik::QoSBlock expected = {0xFF, 0x02, 0x45, 0x23, 0x07, 0x00};
  EXPECT_EQ(tarvik::buildQoSBlock(0x1FF, 2, 0x12345, 7), expected);
}

TEST(TarvikQoSBlock, NegativeArgumentsKeepTheirLowBits) {
  tarvik::QoSBlock expected = {0xFF, 0x80, 0xFF, 0xFF, 0x00, 0x80};
  EXPECT_EQ(tarvik::buildQoSBlock(-1, -128, -1, -32768), expected);
  tarvik::QoSBlock zero = {0, 0, 0, 0, 0, 0};
  EXPECT_EQ(tarvik::buildQoSBlock(0x100, 0x200, 0x10000, 0x7FFF0000), zero);
}

TEST(TarvikAlarmBlock, Generation1SendsOnlyTheValueOne) {
  tarvik::AlarmBlock block = tarvik::buildAlarmBlock(1, 0xDEADBEEF);
  ASSERT_EQ(block.length, 4u);
  EXPECT_EQ(std::vector<std::uint8_t>(block.bytes.begin(), block.bytes.begin() + 4),
            (std::vector<std::uint8_t>{1, 0, 0, 0}));
}

TEST(TarvikAlarmBlock, Generation2PutsTheEventHandleFirst) {
  tarvik::AlarmBlock block = tarvik::buildAlarmBlock(2, 0x000004A8);
  ASSERT_EQ(block.length, 8u);
  EXPECT_EQ(std::vector<std::uint8_t>(block.bytes.begin(), block.bytes.end()),
            (std::vector<std::uint8_t>{0xA8, 0x04, 0, 0, 1, 0, 0, 0}));
}

TEST(TarvikAlarmResult, RemovesTheDriverOffset) {
  EXPECT_EQ(tarvik::alarmCodeFromRaw(4097), 1);
  EXPECT_EQ(tarvik::alarmCodeFromRaw(0x1000), 0);
  EXPECT_EQ(tarvik::alarmCodeFromRaw(100), -3996);
  EXPECT_EQ(tarvik::alarmCodeFromRaw(-1), -4097);
}

TEST(TarvikAlarmResult, ZeroMeansNoAlarm) { EXPECT_EQ(tarvik::alarmCodeFromRaw(0), 0); }

TEST(TarvikAlarmResult, WrapsInsteadOfOverflowingAtTheLowestValue) {
  EXPECT_EQ(tarvik::alarmCodeFromRaw(INT32_MIN), static_cast<std::int32_t>(0x7FFFF000));
}

TEST(TarvikOpenFailure, SpoofingFailsWithMinusOneInBothGenerations) {
  EXPECT_EQ(tarvik::openFailureResult(1, tarvik::kSpoofing), -1);
  EXPECT_EQ(tarvik::openFailureResult(2, tarvik::kSpoofing), -1);
}

TEST(TarvikOpenFailure, OtherRequestsFailWithMinusOneOrZero) {
  for (tarvik::RequestIndex request :
       {tarvik::kActiveConnections, tarvik::kTimeActive, tarvik::kAlarmRegistration, tarvik::kMemoryConfiguration,
        tarvik::kQualityOfService, tarvik::kMinorVersion, tarvik::kMajorVersion}) {
    SCOPED_TRACE(request);
    EXPECT_EQ(tarvik::openFailureResult(1, request), -1);
    EXPECT_EQ(tarvik::openFailureResult(2, request), 0);
  }
}

TEST(TarvikTimeActive, WidensAsASignedValue) {
  EXPECT_EQ(tarvik::timeActiveFromRaw(static_cast<std::int32_t>(0xFFFFFFFFu)), -1);
  EXPECT_EQ(tarvik::timeActiveFromRaw(0x7FFFFFFF), 0x7FFFFFFFLL);
}

}  // namespace
