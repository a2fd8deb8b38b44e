// The log and the error routines, observed from outside: each scenario runs in its own
// log_probe process with TMP pointing at a fresh directory.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "child_process.h"
#include "temp_dir.h"

namespace {

struct ProbeRun {
  ChildResult result;
  std::vector<std::string> logs;  // tsr_nlog_* names left in TMP
  std::string logText;            // the first one's text, CRLF turned into LF
};

ProbeRun runProbe(const TempDir& tmp, const std::vector<std::string>& args,
                  std::map<std::string, std::string> env = {}) {
  env.emplace("TMP", tmp.path());
  env.emplace("NIMBO_LOG", "");
  env.emplace("TESSAR_LOG", "");
  ProbeRun run;
  run.result = runChild(testBinDir() + "log_probe.exe", args, env);
  // Standard error is a text-mode stream: compare with plain newlines.
  run.result.err = std::regex_replace(run.result.err, std::regex("\r\n"), "\n");
  run.logs = tmp.namesStartingWith("tsr_nlog_");
  if (!run.logs.empty()) {
    run.logText = std::regex_replace(readWholeFile(tmp.file(run.logs[0])), std::regex("\r\n"), "\n");
  }
  return run;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

}  // namespace

TEST(Log, WritesHeaderThenPlainAndErrorLines) {
  TempDir tmp;
  ProbeRun run = runProbe(tmp, {"info", "first line", "error", "went wrong", "keep"});
  ASSERT_EQ(run.result.exitCode, 0u) << run.result.err;
  ASSERT_EQ(run.logs.size(), 1u);
  std::vector<std::string> got = lines(run.logText);
  ASSERT_EQ(got.size(), 4u) << run.logText;
  // "Started executable <path> at <ctime>\n" and ctime's own newline leave an empty line.
  EXPECT_TRUE(std::regex_match(got[0], std::regex(R"(Started executable .*log_probe\.exe at \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4})")))
      << got[0];
  EXPECT_EQ(got[1], "");
  EXPECT_EQ(got[2], "first line");
  EXPECT_EQ(got[3], "ERROR: went wrong");
  // keepLog hands out the path of the file it keeps.
  EXPECT_NE(run.result.out.find(run.logs[0]), std::string::npos) << run.result.out;
}

TEST(Log, DeletedAtNormalExitUnlessKept) {
  TempDir tmp;
  ProbeRun deleted = runProbe(tmp, {"info", "x"});
  EXPECT_EQ(deleted.result.exitCode, 0u);
  EXPECT_TRUE(deleted.logs.empty());

  ProbeRun kept = runProbe(tmp, {"info", "x", "keep"});
  EXPECT_EQ(kept.logs.size(), 1u);
}

TEST(Log, ExitNormallyEndsWithTheCodeAndDeletesTheLogUnlessKept) {
  TempDir tmp;
  ProbeRun deleted = runProbe(tmp, {"info", "x", "exit-normally", "83"});
  EXPECT_EQ(deleted.result.exitCode, 83u);
  EXPECT_TRUE(deleted.logs.empty());

  ProbeRun kept = runProbe(tmp, {"info", "x", "keep", "exit-normally", "1"});
  EXPECT_EQ(kept.result.exitCode, 1u);
  EXPECT_EQ(kept.logs.size(), 1u);
}

TEST(Log, LineAfterTheEndDoesNotRecreateTheDeletedLog) {
  TempDir tmp;
  // A thread still running writes after the end; then the process ends without any handler.
  ProbeRun run = runProbe(tmp, {"info", "x", "end-log", "info", "late line", "terminate", "0"});
  EXPECT_EQ(run.result.exitCode, 0u);
  EXPECT_TRUE(run.logs.empty()) << run.logText;
}

TEST(Log, ExitNormallyWhileAnotherThreadLogsLeavesNoLog) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    TempDir tmp;
    ProbeRun run = runProbe(tmp, {"exit-while-logging", "0"});
    EXPECT_EQ(run.result.exitCode, 0u) << run.result.err;
    EXPECT_TRUE(run.logs.empty()) << "attempt " << attempt;
  }
}

TEST(Log, EnvironmentKeepsLogOnlyForExactYes) {
  const std::map<std::string, size_t> cases = {{"yes", 1}, {"Yes", 0}, {"yes ", 0}, {"YES", 0}, {"no", 0}};
  for (const char* variable : {"NIMBO_LOG", "TESSAR_LOG"}) {
    for (const auto& [value, expected] : cases) {
      TempDir tmp;
      ProbeRun run = runProbe(tmp, {"info", "x"}, {{variable, value}});
      EXPECT_EQ(run.logs.size(), expected) << variable << "=\"" << value << "\"";
    }
  }
}

TEST(Log, ManyThreadsLoseNoLineAndTearNone) {
  TempDir tmp;
  const int threads = 8, perThread = 200;
  ProbeRun run = runProbe(tmp, {"threads", std::to_string(threads), std::to_string(perThread), "keep"});
  ASSERT_EQ(run.result.exitCode, 0u) << run.result.err;
  std::set<std::string> seen;
  std::regex whole(R"((ERROR: )?thread (\d+) line (\d+) (padding-){5}padding)");
  int bodyLines = 0;
  for (const std::string& line : lines(run.logText)) {
    if (line.rfind("Started executable", 0) == 0 || line.empty()) continue;
    ++bodyLines;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, whole)) << "torn line: " << line;
    EXPECT_EQ(m[1].matched, std::stoi(m[3]) % 2 == 1) << line;
    EXPECT_TRUE(seen.insert(line).second) << "duplicate: " << line;
  }
  EXPECT_EQ(bodyLines, threads * perThread);
}

TEST(Errors, ConsoleErrorsCarryTheLogPathAndKeepTheLog) {
  TempDir tmp;
  ProbeRun run = runProbe(tmp, {"console", "info", "x", "show", "Something failed"});
  ASSERT_EQ(run.result.exitCode, 0u);
  ASSERT_EQ(run.logs.size(), 1u);
  std::string expectedTail = "\\" + run.logs[0] + "\n";
  EXPECT_EQ(run.result.err.rfind("Something failed\n\nLog: ", 0), 0u) << run.result.err;
  EXPECT_NE(run.result.err.find(expectedTail), std::string::npos) << run.result.err;
}

TEST(Errors, MessageWithoutAnyLogHasNoLogPart) {
  TempDir tmp;
  ProbeRun run = runProbe(tmp, {"console", "show", "No log yet"});
  EXPECT_EQ(run.result.err, "No log yet\n");
  EXPECT_TRUE(run.logs.empty());
}

TEST(Errors, ConfiguredMessageReplacesFirstPlaceholderOnly) {
  TempDir tmp;
  ProbeRun twice = runProbe(tmp, {"--narrow", "1009=code {0} and {0}", "console", "config-error", "1009", "7"});
  EXPECT_EQ(twice.result.err, "code 7 and {0}\n");
  ProbeRun none = runProbe(tmp, {"--narrow", "1015=Be a poweruser", "console", "config-error", "1015", "7"});
  EXPECT_EQ(none.result.err, "Be a poweruser\n");
  ProbeRun absent = runProbe(tmp, {"console", "config-error", "4242", "-"});
  EXPECT_EQ(absent.result.err, "\n");
}

TEST(Errors, FatalRoutinesExitOneAndLeaveTheLog) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  std::vector<Case> cases = {
      {{"console", "info", "x", "fatal", "Internal Error: readInt", "info", "never"}, "Internal Error: readInt"},
      {{"--narrow", "1009=An internal error occurred (error code: {0})", "console", "info", "x", "fatal-config",
        "1009", "34"},
       "An internal error occurred (error code: 34)"},
      {{"--wide", "20016=The installation file is corrupted.", "console", "info", "x", "fatal-message", "20016"},
       "The installation file is corrupted."},
  };
  for (const Case& c : cases) {
    TempDir tmp;
    ProbeRun run = runProbe(tmp, c.args);
    EXPECT_EQ(run.result.exitCode, 1u) << c.message;
    ASSERT_EQ(run.logs.size(), 1u) << c.message;
    EXPECT_EQ(run.result.err.rfind(c.message + "\n\nLog: ", 0), 0u) << run.result.err;
    EXPECT_EQ(run.logText.find("never"), std::string::npos);
  }
}
