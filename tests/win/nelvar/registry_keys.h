// Key paths of one test: unique per process and test case, so runs in parallel do not meet.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

inline std::string uniqueTestName(const std::string& prefix) {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return prefix + "-" + std::to_string(GetCurrentProcessId()) + "-" + info->test_suite_name() + "." + info->name();
}
