#include "vm/variable_expansion.h"

#include <gtest/gtest.h>

#include "base/text_limits.h"
#include "host_platform.h"
#include "vm/vm_platform.h"

namespace {

ExpansionValues windowsValues() {
  ExpansionValues values;
  values.executableDirectory = "C:\\setup\\";
  values.tempDirectory = "C:\\Temp\\nbo1_dir";
  values.systemTempDirectory = "C:\\Temp\\";
  return values;
}

std::string expanded(std::string text, const std::vector<std::string>& environment = {},
                     const ExpansionValues& values = windowsValues()) {
  expandVariablesWith(text, values, environment);
  return text;
}

class VariableExpansion : public ::testing::Test {
 protected:
  void SetUp() override { g_logLines.clear(); }
};

TEST_F(VariableExpansion, TextWithoutVariablesStaysAndLogsNothing) {
  std::string text = "-Xmx512m C:\\plain\\path";
  expandVariables(text);
  EXPECT_EQ(text, "-Xmx512m C:\\plain\\path");
  EXPECT_TRUE(g_logLines.empty());
}

TEST_F(VariableExpansion, DirectoryTokenJoinsWhatFollowsIt) {
  EXPECT_EQ(expanded("${launcher:sys.launcherDirectory}lib"), "C:\\setup\\lib");
  EXPECT_EQ(expanded("${launcher:sys.launcherDirectory}\\lib"), "C:\\setup\\\\lib");
}

TEST_F(VariableExpansion, EveryFixedTokenHasItsValue) {
  ExpansionValues values = windowsValues();
  values.jvmHome = "C:\\jre\\bin\\..";
  EXPECT_EQ(expanded("%NIMBO_EXEDIR%|%TESSAR_EXEDIR%|${NIMBO_EXEDIR}|${TESSAR_EXEDIR}", {}, values),
            "C:\\setup\\|C:\\setup\\|C:\\setup\\|C:\\setup\\");
  EXPECT_EQ(expanded("%NIMBO_TEMPDIR%|%TESSAR_TEMPDIR%|${NIMBO_TEMPDIR}|${TESSAR_TEMPDIR}|${launcher:sys.launcherTempDirectory}",
                     {}, values),
            "C:\\Temp\\nbo1_dir|C:\\Temp\\nbo1_dir|C:\\Temp\\nbo1_dir|C:\\Temp\\nbo1_dir|C:\\Temp\\nbo1_dir");
  std::string separators = expanded(
      "%NIMBO_PATHLIST_SEPARATOR%%TESSAR_PATHLIST_SEPARATOR%${NIMBO_PATHLIST_SEPARATOR}${TESSAR_PATHLIST_SEPARATOR}"
      "${launcher:sys.pathlistSeparator}",
      {}, values);
  EXPECT_EQ(separators, std::string(5, kPathListSeparator));
  EXPECT_EQ(expanded("%NIMBO_JVM_HOME%|%TESSAR_JVM_HOME%|${NIMBO_JVM_HOME}|${TESSAR_JVM_HOME}|${launcher:sys.jvmHome}",
                     {}, values),
            "C:\\jre\\bin\\..|C:\\jre\\bin\\..|C:\\jre\\bin\\..|C:\\jre\\bin\\..|C:\\jre\\bin\\..");
  EXPECT_EQ(expanded("${launcher:sys.tempDir}x", {}, values), "C:\\Temp\\x");
}

TEST_F(VariableExpansion, EmptyJvmHomeBeforeAnyRuntimeWasTried) {
  EXPECT_EQ(expanded("${launcher:sys.jvmHome}\\bin"), "\\bin");
}

TEST_F(VariableExpansion, TwoOccurrencesAreBothReplacedWithOneLogLineEach) {
  EXPECT_EQ(expanded("${NIMBO_EXEDIR}a;${NIMBO_EXEDIR}b"), "C:\\setup\\a;C:\\setup\\b");
  ASSERT_EQ(g_logLines.size(), 2u);
  EXPECT_EQ(g_logLines[0], "expanding ${NIMBO_EXEDIR} to C:\\setup\\ in C:\\setup\\a;${NIMBO_EXEDIR}b.");
  EXPECT_EQ(g_logLines[1], "expanding ${NIMBO_EXEDIR} to C:\\setup\\ in C:\\setup\\a;C:\\setup\\b.");
}

TEST_F(VariableExpansion, InsertedTextIsNotSearchedForTheSameToken) {
  std::string text = "a${X}b${X}";
  EXPECT_TRUE(replaceAll(text, "${X}", "${X}${X}"));
  EXPECT_EQ(text, "a${X}${X}b${X}${X}");
  EXPECT_EQ(g_logLines.size(), 2u);
}

TEST_F(VariableExpansion, LaterTokensApplyToInsertedText) {
  ExpansionValues values = windowsValues();
  values.executableDirectory = "${NIMBO_TEMPDIR}\\";
  EXPECT_EQ(expanded("%NIMBO_EXEDIR%x", {}, values), "C:\\Temp\\nbo1_dir\\x");
  // Fixed tokens come before the environment, and environment entries in block order.
  EXPECT_EQ(expanded("${A}", {"A=${B}", "B=done"}), "done");
  EXPECT_EQ(expanded("${B}", {"A=never", "B=${A}"}), "${A}");
}

TEST_F(VariableExpansion, EnvironmentNamesMatchInTheirOwnAndUpperCaseSpelling) {
  std::vector<std::string> environment = {"Path=C:\\bin"};
  EXPECT_EQ(expanded("${Path}|${PATH}|${path}", environment), "C:\\bin|C:\\bin|${path}");
}

TEST_F(VariableExpansion, EnvironmentVariablesBetweenPercentSignsStay) {
  EXPECT_EQ(expanded("%Path%", {"Path=C:\\bin"}), "%Path%");
}

TEST_F(VariableExpansion, UnknownDollarBraceFormStays) {
  EXPECT_EQ(expanded("${NO_SUCH_VARIABLE}", {"OTHER=1"}), "${NO_SUCH_VARIABLE}");
}

TEST_F(VariableExpansion, ValueSplitAtTheFirstEqualsSign) {
  EXPECT_EQ(expanded("${OPTS}", {"OPTS=-Da=b"}), "-Da=b");
}

TEST_F(VariableExpansion, HiddenDriveEntriesAndEntriesWithoutEqualsAreSkipped) {
  EXPECT_EQ(expanded("${}|${C:}", {"=C:=C:\\work", "NOEQUALS"}), "${}|${C:}");
  EXPECT_TRUE(g_logLines.empty());
}

TEST_F(VariableExpansion, ExpansionPastTheBufferIsCutAndReported) {
  std::string text = "${BIG}${BIG}";
  std::vector<std::string> environment = {"BIG=" + std::string(5000, 'x')};
  EXPECT_FALSE(expandVariablesWith(text, windowsValues(), environment));
  EXPECT_EQ(text.size(), kTextBufferSize - 1);
  EXPECT_EQ(text, std::string(kTextBufferSize - 1, 'x'));
}

TEST_F(VariableExpansion, EnvironmentEntryLongerThanTheWorkBufferIsCut) {
  std::string text = "${LONG}";
  std::vector<std::string> environment = {"LONG=" + std::string(9000, 'y')};
  EXPECT_FALSE(expandVariablesWith(text, windowsValues(), environment));
  EXPECT_EQ(text, std::string(kTextBufferSize - 1 - 5, 'y'));
}

TEST_F(VariableExpansion, CutIsLoggedAsAnErrorThroughExpandVariables) {
  std::string big(5000, 'z');
  setenv("PATHMERE_TEST_BIG", big.c_str(), 1);
  std::string text = "${PATHMERE_TEST_BIG}${PATHMERE_TEST_BIG}";
  expandVariables(text);
  unsetenv("PATHMERE_TEST_BIG");
  EXPECT_EQ(text.size(), kTextBufferSize - 1);
  ASSERT_FALSE(g_logLines.empty());
  EXPECT_EQ(g_logLines.back().rfind("ERROR: Expanded text cut to 8191 bytes", 0), 0u);
}

TEST_F(VariableExpansion, JavaHomeIsTheExecutablesDirectoryAndDotDot) {
  EXPECT_EQ(javaHomeForExecutable("C:\\jre\\bin\\java.exe"), "C:\\jre\\bin\\..");
  EXPECT_EQ(javaHomeForExecutable("C:\\jre\\bin\\javaw.exe"), "C:\\jre\\bin\\..");
  g_hostPlatform.runtimeHome = "C:\\jdk\\jre\\bin\\..";
  std::string text = "${launcher:sys.jvmHome}\\lib";
  expandVariables(text);
  g_hostPlatform.runtimeHome.clear();
  EXPECT_EQ(text, "C:\\jdk\\jre\\bin\\..\\lib");
}

TEST_F(VariableExpansion, JavaHomeOfAShortPathDoesNotUnderflow) {
  EXPECT_EQ(javaHomeForExecutable("x.exe"), "..");
}

}  // namespace
