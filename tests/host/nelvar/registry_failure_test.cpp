// The Registry class's failure texts and the string and path rules it shares with the port lookup.
#include "registry_failure.h"

#include <gtest/gtest.h>

namespace nelvar {
namespace {

TEST(RegistryFailureText, NamesOriginAndOperations) {
  EXPECT_EQ(registryOriginName(), "BaseFW::Registry");
  EXPECT_EQ(registryOperationName(RegistryOperation::construct), "Registry");
  EXPECT_EQ(registryOperationName(RegistryOperation::destruct), "~Registry");
  EXPECT_EQ(registryOperationName(RegistryOperation::openRegistry), "openRegistry");
  EXPECT_EQ(registryOperationName(RegistryOperation::getLongValue), "getLongValue");
  EXPECT_EQ(registryOperationName(RegistryOperation::createStringValue), "createStringValue");
  EXPECT_EQ(registryOperationName(RegistryOperation::flush), "flush");
  // The same string object each time: names are process-wide.
  EXPECT_EQ(&registryOperationName(RegistryOperation::listValues), &registryOperationName(RegistryOperation::listValues));
}

TEST(RegistryFailureText, TypeNames) {
  const char* expected[] = {"REG_NONE",  "REG_SZ",       "REG_EXPAND_SZ", "REG_BINARY",        "REG_DWORD",
                            "REG_DWORD_BIG_ENDIAN", "Unknown type", "REG_MULTI_SZ", "REG_RESOURCE_LIST", "Unknown type"};
  for (std::uint32_t type = 0; type < 10; ++type) EXPECT_EQ(registryTypeName(type), expected[type]) << type;
  EXPECT_EQ(registryTypeName(11), "Unknown type");  // REG_QWORD is not among the named ones
  EXPECT_EQ(registryTypeName(0xFFFFFFFFu), "Unknown type");
}

TEST(RegistryFailureText, SystemText) {
  EXPECT_EQ(systemErrorText(2, "The system cannot find the file specified.\r\n"),
            "Win32 error 2: The system cannot find the file specified.");
  EXPECT_EQ(systemErrorText(5, "Access denied"), "Win32 error 5: Access denied");
  EXPECT_EQ(systemErrorText(123456, ""), "Win32 error 123456 : <<no message text>>");
  EXPECT_EQ(systemErrorText(7, "\r\n"), "Win32 error 7 : <<no message text>>");
}

TEST(RegistryFailureText, Descriptions) {
  const std::string sys = "Win32 error 5: Access denied";
  EXPECT_EQ(describeOpenFailure("SOFTWARE\\X", sys), "Failed to open key \"SOFTWARE\\X\": Win32 error 5: Access denied");
  EXPECT_EQ(describeSubkeyObjectFailure("X\\a"), "Cannot create the subkey \"X\\a\"");
  EXPECT_EQ(describeMissingSubkey("a"), "Failed to remove subkey: Key \"a\" does not exist.");
  EXPECT_EQ(describeRemoveKeyFailure("a", sys), "Failed to remove subkey \"a\": " + sys);
  EXPECT_EQ(describeMissingValueOnRemove("v"), "Failed to remove value: Value \"v\" does not exist.");
  EXPECT_EQ(describeRemoveValueFailure("v", sys), "Failed to remove value \"v\": " + sys);
  EXPECT_EQ(describeQueryFailure("v", sys), "Failed to get value of \"v\": " + sys);
  EXPECT_EQ(describeWrongType("v", 1, RequiredType::dword),
            "Value \"v\" in registry has wrong type (REG_SZ); REG_DWORD required for this operation.");
  EXPECT_EQ(describeWrongType("v", 6, RequiredType::string),
            "Value \"v\" in registry has wrong type (Unknown type); REG_SZ required for this operation.");
  EXPECT_EQ(describeWrongSize("v", 8), "Value \"v\" in registry has wrong size (8); 4 required for this operation.");
  EXPECT_EQ(describeMissingValueOnSet("v"), "Failed to set value of \"v\": Value does not exist.");
  EXPECT_EQ(describeSetFailure("v", sys), "Failed to set value of \"v\": " + sys);
  EXPECT_EQ(describeExistingValueOnCreate("v"), "Failed to create value: Value \"v\" already exists.");
  EXPECT_EQ(describeCreateValueFailure("v", sys), "Failed to create value \"v\": " + sys);
  EXPECT_EQ(describeFlushFailure("K", sys), "Failed to flush the key \"K\": " + sys);
  EXPECT_EQ(describeQueryFailure("", sys), "Failed to get value of \"\": " + sys);  // the default value
}

TEST(RegistryStringBytes, EndsAtFirstZeroWithinReportedSize) {
  EXPECT_EQ(stringFromRegistryBytes("COM3\0", 5), "COM3");
  EXPECT_EQ(stringFromRegistryBytes("COM3\0junk", 9), "COM3");
  // Stored without a terminator: exactly the reported bytes, nothing beyond.
  const char unterminated[] = {'C', 'O', 'M', '1', '2', 'X', 'Y'};
  EXPECT_EQ(stringFromRegistryBytes(unterminated, 5), "COM12");
  EXPECT_EQ(stringFromRegistryBytes("", 0), "");
  EXPECT_EQ(stringFromRegistryBytes("\0abc", 4), "");
  EXPECT_EQ(stringFromRegistryBytes(nullptr, 4), "");
}

TEST(RegistryKeyPath, JoinsWithOneBackslash) {
  EXPECT_EQ(joinKeyPath("SOFTWARE\\X", "a"), "SOFTWARE\\X\\a");
  EXPECT_EQ(joinKeyPath("SYSTEM\\CurrentControlSet\\Control\\Class\\", "{4d36e96d}"),
            "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e96d}");
  EXPECT_EQ(joinKeyPath("", "a"), "a");
}

}  // namespace
}  // namespace nelvar
