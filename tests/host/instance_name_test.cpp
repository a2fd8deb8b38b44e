#include "process/instance_name.h"

#include <gtest/gtest.h>

TEST(InstanceName, BackslashesBecomeUnderscoresAfterTheGlobalPrefix) {
  EXPECT_EQ(singleInstanceNameFor("c:\\program files\\setup.exe", false), "c:_program files_setup.exe");
  EXPECT_EQ(singleInstanceNameFor("c:\\setup.exe", true), "Global\\c:_setup.exe");
  EXPECT_EQ(singleInstanceNameFor("\\\\server\\share\\s.exe", false), "__server_share_s.exe");
}
