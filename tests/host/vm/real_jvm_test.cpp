// Real launches against the host JDK: each case runs real_jvm_launch in its own process (a
// process holds one VM) and reads what the Java side saw.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class RealJvm : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("pm_jvm_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "app");
    fs::create_directories(root_ / "tmp" / "user");
    exe_ = (root_ / "app" / "setup.exe").string();
    probeOut_ = (root_ / "probe.txt").string();
    set("exe", exe_);
    set("tempDir", (root_ / "tmp").string());
    set("config.122", "probe.RealJvmProbe");
    set("config.123", "-Dprobe.out=" + probeOut_);
    set("env.PATH", "/usr/bin:/bin");
    arguments_.push_back(exe_);
    // The archives the launcher extracted: the launcher classes in the temporary directory, the
    // program in its user folder.
    fs::copy_file(TEST_JARS "/probe.jar", root_ / "tmp" / "user" / "probe.jar");
  }
  void TearDown() override { fs::remove_all(root_); }

  void set(const std::string& key, const std::string& value) { values_[key] = value; }
  void withLauncherJar() { fs::copy_file(LAUNCHER_JAR, root_ / "tmp" / "pathmere_launcher.jar"); }
  void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  // Runs the launch; the exit code of real_jvm_launch (0 launched, 3 launchJavaProgram false,
  // 1 a fatal message).
  int launch() {
    std::ofstream scenario(root_ / "scenario");
    for (const auto& [key, value] : values_) scenario << key << "=" << value << "\n";
    for (const std::string& argument : arguments_) scenario << "arg=" << argument << "\n";
    scenario.close();
    // The VM handles its own SIGSEGV (safepoints, implicit null checks).
    std::string command = "ASAN_OPTIONS=handle_segv=0:allow_user_segv_handler=1:detect_leaks=0 "
                          "env -u MANPATH " REAL_JVM_LAUNCH " " + (root_ / "scenario").string() + " >" +
                          (root_ / "stdout").string() + " 2>" + (root_ / "stderr").string();
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string stderrText() {
    std::ifstream in(root_ / "stderr");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // What the probe wrote; empty when main never ran.
  std::map<std::string, std::string> probe() {
    std::map<std::string, std::string> seen;
    std::ifstream in(probeOut_);
    std::string line;
    while (std::getline(in, line)) {
      std::size_t equals = line.find('=');
      if (equals != std::string::npos) seen[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return seen;
  }

  fs::path root_;
  std::string exe_;
  std::string probeOut_;
  std::map<std::string, std::string> values_;
  std::vector<std::string> arguments_;
};

TEST_F(RealJvm, ArgumentArrayReachesTheLauncherClassElementByElement) {
  fs::copy_file(TEST_JARS "/arraydump.jar", root_ / "tmp" / "arraydump.jar");
  set("config.107", "1");
  set("config.102", "1");
  set("config.103", "logs/../error.log");
  set("config.104", "1");
  set("config.105", "$out");
  set("config.106", "1");
  set("config.124", "-app \"two words\"");
  arguments_.push_back("-user");
  arguments_.push_back("\xe4\xb8\x96\xc3\xa9");  // U+4E16 U+00E9: outside an ANSI code page
  ASSERT_EQ(launch(), 0) << stderrText();
  std::map<std::string, std::string> seen = probe();
  EXPECT_EQ(seen["argc"], "10");
  EXPECT_EQ(seen["arg0"], "true");
  EXPECT_EQ(seen["arg1"], "probe.RealJvmProbe");
  EXPECT_EQ(seen["arg2"], (root_ / "app" / "error.log").string());
  EXPECT_EQ(seen["arg3"], "$out");
  EXPECT_EQ(seen["arg4"], "true");
  EXPECT_EQ(seen["arg5"], exe_);
  EXPECT_EQ(seen["arg6"], "-app");
  EXPECT_EQ(seen["arg7"], "two words");
  EXPECT_EQ(seen["arg8"], "-user");
  EXPECT_EQ(seen["arg9"], "\\u4e16\\u00e9");
  // The log shows what the file-system code page can hold.
  EXPECT_NE(stderrText().find("param 9: ??"), std::string::npos);
}

TEST_F(RealJvm, LaunchPropertiesAndClassPathAsTheJavaSideSeesThem) {
  withLauncherJar();
  set("config.2001", "i");
  set("config.10005", "1");
  set("instanceName", "nimbo_sem_7");
  ASSERT_EQ(launch(), 0) << stderrText();
  std::map<std::string, std::string> seen = probe();
  std::string tmp = (root_ / "tmp").string();
  EXPECT_EQ(seen["nimbo.semaphoreName"], "nimbo_sem_7");
  EXPECT_EQ(seen["nimbo.manualJre"], "<absent>");
  EXPECT_EQ(seen["nimbo.isTessar"], "true");
  EXPECT_EQ(seen["nimbo.moduleName"], exe_);
  EXPECT_EQ(seen["sun.java.command"], exe_);
  EXPECT_EQ(seen["nimbo.processCommFile"], "/tmp/nbo_p42.tmp");
  EXPECT_EQ(seen["nimbo.tempDir"], tmp);
  EXPECT_EQ(seen["nimbo.unextractedPosition"], "0");
  EXPECT_EQ(seen["java.library.path"], "/usr/bin:/bin");
  EXPECT_EQ(seen["nimbo.consoleCodepage"], "cp437");
  EXPECT_EQ(seen["java.class.path"], tmp + "/pathmere_launcher.jar:" + tmp + "/user/probe.jar:");
  // The installer-family launcher class hands the program only what follows the program path.
  EXPECT_EQ(seen["argc"], "0");
  EXPECT_NE(stderrText().find("launch done"), std::string::npos);
}

TEST_F(RealJvm, LauncherClassSendsStandardStreamsToTheConfiguredLogs) {
  withLauncherJar();
  set("config.102", "1");
  set("config.103", "logs/../error.log");
  set("config.104", "1");
  set("config.105", "output.log");
  ASSERT_EQ(launch(), 0) << stderrText();
  auto read = [](const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  EXPECT_EQ(read(root_ / "app" / "output.log"), "probe standard output\n");
  EXPECT_EQ(read(root_ / "app" / "error.log"), "probe standard error\n");
  EXPECT_EQ(stderrText().find("probe standard error"), std::string::npos);
}

TEST_F(RealJvm, AnErrorLogThatCannotBeOpenedLeavesStandardErrorWhereItWasAndTheStartGoesOn) {
  withLauncherJar();
  set("config.102", "1");
  set("config.103", "no such folder/error.log");
  set("config.104", "1");
  set("config.105", "output.log");
  ASSERT_EQ(launch(), 0) << stderrText();
  std::ifstream in(root_ / "app" / "output.log");
  std::stringstream output;
  output << in.rdbuf();
  EXPECT_EQ(output.str(), "probe standard output\n");
  std::string errors = stderrText();
  EXPECT_NE(errors.find("Could not open the error log " + (root_ / "app" / "no such folder" / "error.log").string()),
            std::string::npos) << errors;
  EXPECT_NE(errors.find("probe standard error"), std::string::npos) << errors;
  EXPECT_FALSE(fs::exists(root_ / "app" / "no such folder"));
}

TEST_F(RealJvm, IncludeChainOfVmOptionsAndClassPathOverrides) {
  withLauncherJar();
  fs::create_directories(root_ / "extra");
  write(root_ / "app" / "setup.vmoptions", "  -Dprobe.file=top  \n#-Dprobe.file=comment\n-include-options conf/a.vmoptions\n");
  write(root_ / "app" / "conf" / "a.vmoptions", "-Dprobe.included=yes\n-include-options b.vmoptions\n");
  write(root_ / "app" / "conf" / "b.vmoptions",
        "-Dprobe.nested=${NIMBO_TEMPDIR}\n-classpath/a " + (root_ / "extra").string() + "\n-classpath/p /first.jar\n");
  ASSERT_EQ(launch(), 0) << stderrText();
  std::map<std::string, std::string> seen = probe();
  std::string tmp = (root_ / "tmp").string();
  EXPECT_EQ(seen["probe.file"], "top");
  EXPECT_EQ(seen["probe.included"], "yes");
  EXPECT_EQ(seen["probe.nested"], tmp);
  EXPECT_EQ(seen["java.class.path"],
            "/first.jar:" + tmp + "/pathmere_launcher.jar:" + tmp + "/user/probe.jar:" + (root_ / "extra").string());
}

TEST_F(RealJvm, JOptionsBecomeVmOptionsOnlyWithDropJArguments) {
  withLauncherJar();
  set("config.2001", "e");
  set("config.125", "1");
  arguments_.push_back("-J-Dprobe.j=set");
  arguments_.push_back("kept");
  ASSERT_EQ(launch(), 0) << stderrText();
  std::map<std::string, std::string> seen = probe();
  EXPECT_EQ(seen["probe.j"], "set");
  EXPECT_EQ(seen["argc"], "1");
  EXPECT_EQ(seen["arg0"], "kept");

  set("config.125", "0");
  fs::remove(probeOut_);
  ASSERT_EQ(launch(), 0) << stderrText();
  seen = probe();
  EXPECT_EQ(seen["probe.j"], "<absent>");
  EXPECT_EQ(seen["argc"], "2");
  EXPECT_EQ(seen["arg0"], "-J-Dprobe.j=set");
}

TEST_F(RealJvm, ConfiguredOptionsAreExpandedAndReachTheVm) {
  withLauncherJar();
  set("config.123", "-Dprobe.out=" + probeOut_ + " \"-Dprobe.configured=%NIMBO_TEMPDIR% x\"");
  ASSERT_EQ(launch(), 0) << stderrText();
  EXPECT_EQ(probe()["probe.configured"], (root_ / "tmp").string() + " x");
}

TEST_F(RealJvm, ExceptionEscapingMainMakesTheLaunchFail) {
  withLauncherJar();
  set("config.123", "-Dprobe.out=" + probeOut_ + " -Dprobe.mode=throw");
  EXPECT_EQ(launch(), 3);
  std::string errors = stderrText();
  EXPECT_NE(errors.find("java.lang.IllegalStateException: thrown by the probe"), std::string::npos) << errors;
  EXPECT_NE(errors.find("\tat probe.RealJvmProbe.main"), std::string::npos) << errors;
  EXPECT_NE(errors.find("ERROR: an exception occured"), std::string::npos);
  EXPECT_NE(errors.find("ERROR: could not call main"), std::string::npos);
  EXPECT_EQ(errors.find("launch done"), std::string::npos);
}

TEST_F(RealJvm, MissingLauncherClassIsMessage1010) {
  set("config.1010", "Couldn't load main class.");
  EXPECT_EQ(launch(), 1);
  std::string errors = stderrText();
  EXPECT_NE(errors.find("ERROR: could not find main class"), std::string::npos);
  EXPECT_NE(errors.find("FATAL 1010: Couldn't load main class."), std::string::npos) << errors;
}

TEST_F(RealJvm, ConfiguredMainClassInNoJarIsMessage1010NamingIt) {
  withLauncherJar();
  set("config.122", "probe.NotInAnyJar");
  set("config.1010", "Couldn't load main class.");
  EXPECT_EQ(launch(), 1);
  std::string errors = stderrText();
  EXPECT_NE(errors.find("java.lang.ClassNotFoundException: probe.NotInAnyJar"), std::string::npos) << errors;
  EXPECT_NE(errors.find("ERROR: could not load the main class probe.NotInAnyJar"), std::string::npos) << errors;
  EXPECT_NE(errors.find("FATAL 1010: Couldn't load main class."), std::string::npos) << errors;
}

TEST_F(RealJvm, MissingMainIsMessage1011) {
  fs::copy_file(TEST_JARS "/nomain.jar", root_ / "tmp" / "nomain.jar");
  set("config.1011", "Main method not found.");
  EXPECT_EQ(launch(), 1);
  std::string errors = stderrText();
  EXPECT_NE(errors.find("ERROR: could not find main method"), std::string::npos);
  EXPECT_NE(errors.find("FATAL 1011: Main method not found."), std::string::npos) << errors;
}

TEST_F(RealJvm, FirstRunVetoStopsBeforeMainAndTheLaunchStillSucceeds) {
  withLauncherJar();
  set("config.2001", "i");
  set("config.10003", (root_ / "installed").string());
  write(root_ / "installed" / ".tessar" / "firstrun", "");
  set("config.123", "-Dprobe.out=" + probeOut_ + " -Dnimbo.firstRun=false");
  ASSERT_EQ(launch(), 0) << stderrText();
  EXPECT_TRUE(probe().empty());
  std::string errors = stderrText();
  EXPECT_NE(errors.find("checkFirstRun stopped further execution"), std::string::npos);
  EXPECT_NE(errors.find("launch done"), std::string::npos);
}

TEST_F(RealJvm, FirstRunWithoutVetoGoesOnToMain) {
  withLauncherJar();
  set("config.2001", "i");
  set("config.10003", (root_ / "installed").string());
  write(root_ / "installed" / ".tessar" / "firstrun", "");
  ASSERT_EQ(launch(), 0) << stderrText();
  EXPECT_FALSE(probe().empty());
}

TEST_F(RealJvm, FirstRunClassMissingIsInternalError14) {
  fs::copy_file(TEST_JARS "/arraydump.jar", root_ / "tmp" / "arraydump.jar");
  set("config.2001", "i");
  set("config.1009", "An internal error occurred (error code: {0})");
  set("config.10003", (root_ / "installed").string());
  write(root_ / "installed" / ".tessar" / "firstrun", "");
  EXPECT_EQ(launch(), 1);
  EXPECT_NE(stderrText().find("FATAL 1009: An internal error occurred (error code: 14)"), std::string::npos);
}

}  // namespace
