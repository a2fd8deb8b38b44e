// The search sequence against real files, environment variables and registry keys.
#include <gtest/gtest.h>

#include <cstring>

#include "base/paths.h"
#include "runtime/registry_read.h"
#include "runtime/runtime_search.h"
#include "runtime_fixture.h"
#include "temp_dir.h"

namespace {

const char* kJre = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
const char* kJdk = "SOFTWARE\\JavaSoft\\Java Development Kit";
const char* kLocated = "SOFTWARE\\harwell\\nimbo\\locatedjvms";
const char* kInstallations = "SOFTWARE\\harwell\\tessar\\installations";

class RuntimeSearch : public RuntimeTest {
 protected:
  // An install directory of the test's own, so that no location file of another run is read.
  ScopedConfig config{{{126, "1.6"}, {127, "1.7"}, {128, ""}, {130, "1"}, {131, "0"}, {107, "5"},
                       {160, "test-application"}, {10003, dir.path()}}};
  RegistryTrees keys{{{HKEY_LOCAL_MACHINE, kJre},
                      {HKEY_LOCAL_MACHINE, kJdk},
                      {HKEY_CURRENT_USER, kLocated},
                      {HKEY_LOCAL_MACHINE, kLocated},
                      {HKEY_CURRENT_USER, kInstallations},
                      {HKEY_LOCAL_MACHINE, kInstallations},
                      {HKEY_CURRENT_USER, "SOFTWARE\\harwell\\nimbo\\jvms"}}};

  std::string canonical(const std::string& path) { return makeAbsolutePath(path, false); }

  void writeLocationFile(const char* name, const std::string& text) {
    makeDirectories(dir.file(".tessar"));
    writeWholeFile(dir.file(std::string(".tessar\\") + name), text);
  }

  RuntimeSourceKind search(std::string& exe, std::string& description) { return findJavaRuntime(exe, description); }
};

RuntimeLayout withVersion(const std::string& version, bool jdk = false) {
  RuntimeLayout layout;
  layout.jdk = jdk;
  layout.script["version_line"] = "java version \"" + version + "\"";
  return layout;
}

}  // namespace

TEST_F(RuntimeSearch, HomeLayoutPrefersTheKitsEmbeddedRuntime) {
  TestRuntime kit(dir.file("jdk"), withVersion("1.6.0_21", true));
  TestRuntime plain(dir.file("jre"));
  std::string exe;
  EXPECT_TRUE(javaExeForHome(exe, kit.home()));
  EXPECT_EQ(exe, kit.home() + "\\jre\\bin\\java.exe");
  EXPECT_TRUE(javaExeForHome(exe, plain.home()));
  EXPECT_EQ(exe, plain.home() + "\\bin\\java.exe");
  EXPECT_TRUE(javaExeForHome(exe, dir.file("missing")));
  EXPECT_EQ(exe, dir.file("missing") + "\\bin\\java.exe");

  ScopedConfig jdkOnly({{131, "1"}});
  EXPECT_TRUE(javaExeForHome(exe, kit.home()));
  EXPECT_FALSE(javaExeForHome(exe, plain.home()));
  EXPECT_EQ(exe, plain.home() + "\\jre\\bin\\java.exe");
}

TEST_F(RuntimeSearch, LocationFileGivesItsFirstLineWithoutLineEnd) {
  std::string line;
  EXPECT_FALSE(readLocationFile(line, "\\.tessar\\pref_jre.cfg"));
  writeLocationFile("pref_jre.cfg", "");
  EXPECT_FALSE(readLocationFile(line, "\\.tessar\\pref_jre.cfg"));
  writeLocationFile("pref_jre.cfg", "C:\\Java\\jre6\r\nsecond line\r\n");
  EXPECT_TRUE(readLocationFile(line, "\\.tessar\\pref_jre.cfg"));
  EXPECT_EQ(line, "C:\\Java\\jre6");
  writeLocationFile("pref_jre.cfg", "\r\n");
  EXPECT_TRUE(readLocationFile(line, "\\.tessar\\pref_jre.cfg"));
  EXPECT_EQ(line, "");
}

TEST_F(RuntimeSearch, PreferredLocationWinsOverTheSearchList) {
  TestRuntime preferred(dir.file("preferred"));
  TestRuntime listed(dir.file("listed"));
  writeLocationFile("pref_jre.cfg", preferred.home() + "\n");
  ScopedConfig list({{128, "B" + listed.home()}});
  std::string exe, description;
  EXPECT_EQ(search(exe, description), RuntimeSourceKind::Location);
  EXPECT_EQ(exe, canonical(preferred.javaExe()));
  EXPECT_EQ(description, preferred.home());
  EXPECT_TRUE(log.inOrder({"Searching for a JVM", "Has preferred location " + preferred.home(),
                           "Using preferred location"}));
  EXPECT_EQ(listed.runs(), 0);
}

TEST_F(RuntimeSearch, ListItemsInOrderFirstAcceptableWins) {
  TestRuntime tooOld(dir.file("old"), withVersion("1.5.0_22"));
  TestRuntime good(dir.file("good"));
  TestRuntime later(dir.file("later"));
  ScopedConfig list({{128, ";X" + tooOld.home() + ";R" + tooOld.home() + ";;A" + good.home() + ";B" + later.home()}});
  std::string exe, description;
  EXPECT_EQ(search(exe, description), RuntimeSourceKind::Location);
  EXPECT_EQ(exe, canonical(good.javaExe()));
  EXPECT_EQ(description, good.home());
  EXPECT_TRUE(log.inOrder({"Testing location " + tooOld.home() + " (type X)",
                           "Testing location " + tooOld.home() + " (type R)",
                           "Testing location " + good.home() + " (type A)"}));
  EXPECT_EQ(log.text().find("(type B)"), std::string::npos);
  EXPECT_EQ(later.runs(), 0);
}

TEST_F(RuntimeSearch, EnvironmentItemTakesTheVariablesHomeWithForwardSlashes) {
  TestRuntime runtime(dir.file("envjre"));
  std::string slashed = runtime.home();
  for (char& c : slashed) c = c == '\\' ? '/' : c;
  ScopedEnvironment own("OWN_JAVA", slashed.c_str());
  ScopedConfig list({{128, "EOWN_JAVA"}});
  std::string exe, description;
  EXPECT_EQ(search(exe, description), RuntimeSourceKind::EnvironmentVariable);
  EXPECT_EQ(description, "OWN_JAVA");
  EXPECT_EQ(exe, canonical(runtime.javaExe()));
}

TEST_F(RuntimeSearch, SearchPathItemFindsJavaOnPath) {
  TestRuntime runtime(dir.file("pathjre"));
  char old[32768];
  DWORD n = GetEnvironmentVariableA("PATH", old, sizeof old);
  std::string path = runtime.binDir() + ";" + std::string(old, n);
  ScopedEnvironment extended("PATH", path.c_str());
  ScopedConfig list({{128, "Sanything"}});
  std::string exe, description;
  EXPECT_EQ(search(exe, description), RuntimeSourceKind::SearchPath);
  EXPECT_EQ(description, "anything");
  EXPECT_EQ(exe, canonical(runtime.javaExe()));
}

TEST_F(RuntimeSearch, SearchPathAndEnvironmentRefusePreReleasesDirectoriesDoNot) {
  ScopedConfig betaOff({{130, "0"}});
  TestRuntime runtime(dir.file("earlyjre"), withVersion("1.6.0-ea"));
  ScopedEnvironment own("OWN_JAVA", runtime.home().c_str());
  std::string exe;
  EXPECT_FALSE(testEnvironmentVariable(exe, "OWN_JAVA", "1.6", "1.7"));
  EXPECT_TRUE(testLocation(exe, runtime.home(), "1.6", "1.7", false));
}

TEST_F(RuntimeSearch, RelativePassAcceptsAnyExistingExecutable) {
  TestRuntime outOfBounds(dir.file("newjre"), withVersion("1.8.0_20"));
  ScopedConfig list({{128, "R" + outOfBounds.home() + ";B" + outOfBounds.home()}});
  std::string exe, description;
  EXPECT_EQ(search(exe, description), RuntimeSourceKind::Location);
  EXPECT_EQ(description, outOfBounds.home());
  EXPECT_EQ(exe, canonical(outOfBounds.javaExe()));
  // The absolute R item is not tried again; the B item is, and wins without a version test.
  std::string text = log.text();
  EXPECT_EQ(text.find("Testing relative location " + outOfBounds.home() + "\n"),
            text.rfind("Testing relative location " + outOfBounds.home() + "\n"));
  EXPECT_TRUE(log.inOrder({"(type R)", "(type B)", "Testing relative location " + outOfBounds.home(),
                           canonical(outOfBounds.javaExe()) + " exists"}));
}

// An item whose packed runtime cannot be prepared is not accepted in the relative pass with the
// executable an earlier item left behind.
TEST_F(RuntimeSearch, RelativePassNeverTakesAnEarlierItemsExecutableUnderAnotherName) {
  TestRuntime outOfBounds(dir.file("newjre"), withVersion("1.8.0_20"));
  RuntimeLayout failing;
  failing.script["version_exit_code"] = "1";
  TestRuntime broken(dir.file("broken"), failing);
  // The double's java.exe as an unpack200 that fails.
  copyFileOrFail(doubleFile("java.exe"), broken.home() + "\\bin\\unpack200.exe");
  makeDirectories(broken.home() + "\\lib");
  writeWholeFile(broken.home() + "\\lib\\rt.jar.pack", "pack");
  ScopedConfig list({{128, "R" + outOfBounds.home() + ";B" + broken.home()}});
  std::string exe, description;
  EXPECT_EQ(search(exe, description), RuntimeSourceKind::None) << description;
  EXPECT_TRUE(log.inOrder({"(type R)", "(type B)", "Testing relative location " + broken.home(),
                           "Search sequence finished"}));
  EXPECT_EQ(log.text().find(canonical(outOfBounds.javaExe()) + " exists"), std::string::npos) << log.text();
}

TEST_F(RuntimeSearch, InstallerLocationComesAfterTheListBeforeTheRelativePass) {
  TestRuntime installed(dir.file("installed"));
  writeLocationFile("inst_jre.cfg", installed.home() + "\r\n");
  ScopedConfig list({{128, "B" + dir.file("missing")}});
  std::string exe, description;
  EXPECT_EQ(search(exe, description), RuntimeSourceKind::Location);
  EXPECT_EQ(exe, canonical(installed.javaExe()));
  EXPECT_TRUE(log.inOrder({"(type B)", "Has installer location " + installed.home(), "Using installer location"}));
  EXPECT_EQ(log.text().find("Testing relative location"), std::string::npos);
}

TEST_F(RuntimeSearch, JavaSoftCurrentVersionAndSubkeyWalk) {
  TestRuntime current(dir.file("current"), withVersion("1.6.0_21"));
  setRegistryString(HKEY_LOCAL_MACHINE, kJre, "CurrentVersion", "1.6");
  setRegistryString(HKEY_LOCAL_MACHINE, std::string(kJre) + "\\1.6", "JavaHome", current.home());
  std::string exe;
  ASSERT_TRUE(testRegistry(exe, "1.6", "1.7"));
  EXPECT_EQ(exe, canonical(current.javaExe()));
  EXPECT_TRUE(log.inOrder({"found sun " + canonical(current.javaExe()) + " 1.6.0_21"}));

  // Without a usable CurrentVersion the subkeys are tried greatest first, byte-wise.
  TestRuntime three(dir.file("three"), withVersion("1.6.0_3"));
  TestRuntime twentyOne(dir.file("twentyone"), withVersion("1.6.0_21"));
  keys.clean();
  setRegistryString(HKEY_LOCAL_MACHINE, std::string(kJre) + "\\1.6.0_21", "JavaHome", twentyOne.home());
  setRegistryString(HKEY_LOCAL_MACHINE, std::string(kJre) + "\\1.6.0_3", "JavaHome", three.home());
  setRegistryString(HKEY_LOCAL_MACHINE, std::string(kJre) + "\\1.8", "JavaHome", twentyOne.home());
  ASSERT_TRUE(testRegistry(exe, "1.6", "1.7"));
  EXPECT_EQ(exe, canonical(three.javaExe()));
  EXPECT_EQ(twentyOne.runs(), 0);
}

TEST_F(RuntimeSearch, RequireJdkNeverReadsTheRuntimeEnvironmentKey) {
  ScopedConfig jdkOnly({{131, "1"}});
  TestRuntime plain(dir.file("plain"));
  setRegistryString(HKEY_LOCAL_MACHINE, kJre, "CurrentVersion", "1.6");
  setRegistryString(HKEY_LOCAL_MACHINE, std::string(kJre) + "\\1.6", "JavaHome", plain.home());
  std::string exe;
  EXPECT_FALSE(testRegistry(exe, "1.6", "1.7"));
  EXPECT_EQ(plain.runs(), 0);

  TestRuntime kit(dir.file("kit"), withVersion("1.6.0_30", true));
  setRegistryString(HKEY_LOCAL_MACHINE, std::string(kJdk) + "\\1.6.0_30", "JavaHome", kit.home());
  ASSERT_TRUE(testRegistry(exe, "1.6", "1.7"));
  EXPECT_EQ(exe, canonical(kit.javaExe()));
}

TEST_F(RuntimeSearch, LocatedRuntimesTieGoesToTheMachineThenToLocatedOverJavaSoft) {
  TestRuntime user(dir.file("user"), withVersion("1.6.0_21"));
  TestRuntime machine(dir.file("machine"), withVersion("1.6.0_21"));
  TestRuntime javaSoft(dir.file("javasoft"), withVersion("1.6.0_21"));
  rememberLocatedRuntime(canonical(machine.javaExe()));
  EXPECT_TRUE(registryKeyExists(HKEY_LOCAL_MACHINE, locatedRuntimeKey(canonical(machine.javaExe()))));
  setRegistryString(HKEY_CURRENT_USER, locatedRuntimeKey(canonical(user.javaExe())), nullptr, "");
  setRegistryString(HKEY_LOCAL_MACHINE, kJre, "CurrentVersion", "1.6");
  setRegistryString(HKEY_LOCAL_MACHINE, std::string(kJre) + "\\1.6", "JavaHome", javaSoft.home());
  std::string exe;
  ASSERT_TRUE(testRegistry(exe, "1.6", "1.7"));
  EXPECT_EQ(exe, canonical(machine.javaExe()));
  EXPECT_TRUE(log.inOrder({"found sun ", "found located " + canonical(machine.javaExe())}));

  // A greater JavaSoft version wins; so does a greater user version over the machine's.
  javaSoft.writeScript({{"version_line", "java version \"1.6.0_30\""}});
  javaSoft.touchJavaExe(60);
  ASSERT_TRUE(testRegistry(exe, "1.6", "1.7"));
  EXPECT_EQ(exe, canonical(javaSoft.javaExe()));
  keys.clean();
  user.writeScript({{"version_line", "java version \"1.6.0_25\""}});
  user.touchJavaExe(60);
  rememberLocatedRuntime(canonical(machine.javaExe()));
  setRegistryString(HKEY_CURRENT_USER, locatedRuntimeKey(canonical(user.javaExe())), nullptr, "");
  ASSERT_TRUE(testRegistry(exe, "1.6", "1.7"));
  EXPECT_EQ(exe, canonical(user.javaExe()));
}

TEST_F(RuntimeSearch, RegistryItemLeavesTheDescriptionAlone) {
  TestRuntime runtime(dir.file("registered"));
  setRegistryString(HKEY_LOCAL_MACHINE, kJre, "CurrentVersion", "1.6");
  setRegistryString(HKEY_LOCAL_MACHINE, std::string(kJre) + "\\1.6", "JavaHome", runtime.home());
  ScopedConfig list({{128, "Y"}});
  std::string exe, description = "untouched";
  EXPECT_EQ(search(exe, description), RuntimeSourceKind::RegistryLookup);
  EXPECT_EQ(description, "untouched");
}

TEST_F(RuntimeSearch, PreviousInstallationsUserBeforeMachine) {
  TestRuntime machine(dir.file("machineinst\\jre"));
  TestRuntime user(dir.file("userinst\\jre"));
  setRegistryString(HKEY_LOCAL_MACHINE, kInstallations, "test-application", dir.file("machineinst"));
  setRegistryString(HKEY_CURRENT_USER, kInstallations, "test-application",
                    dir.file("gone") + ";;" + dir.file("userinst"));
  std::string exe, description;
  EXPECT_EQ(search(exe, description), RuntimeSourceKind::RegistryLookup);
  EXPECT_EQ(exe, canonical(user.javaExe()));
  EXPECT_TRUE(log.inOrder({"found installations: ", "found JRE from previous installation (user) " + exe}));

  keys.clean();
  setRegistryString(HKEY_LOCAL_MACHINE, kInstallations, "test-application", dir.file("machineinst"));
  EXPECT_EQ(search(exe, description), RuntimeSourceKind::RegistryLookup);
  EXPECT_TRUE(log.inOrder({"found JRE from previous installation (machine) " + canonical(machine.javaExe())}));
}

TEST_F(RuntimeSearch, FallbackVariablesComeLastNimboFirst) {
  TestRuntime nimboRuntime(dir.file("nimbo"));
  TestRuntime tessarRuntime(dir.file("tessar"));
  ScopedEnvironment tessarHome("TESSAR_JAVA_HOME", tessarRuntime.home().c_str());
  std::string exe, description;
  EXPECT_EQ(search(exe, description), RuntimeSourceKind::EnvironmentVariable);
  EXPECT_EQ(description, "TESSAR_JAVA_HOME");
  ScopedEnvironment nimboHome("NIMBO_JAVA_HOME", nimboRuntime.home().c_str());
  EXPECT_EQ(search(exe, description), RuntimeSourceKind::EnvironmentVariable);
  EXPECT_EQ(description, "NIMBO_JAVA_HOME");
  EXPECT_EQ(exe, canonical(nimboRuntime.javaExe()));
  EXPECT_TRUE(log.inOrder({"Search sequence finished", "checkJavaExe ("}));
}

TEST_F(RuntimeSearch, NothingFoundIsNone) {
  ScopedConfig list({{128, "B" + dir.file("a") + ";S;Enot_set_anywhere;Y;Q"}});
  std::string exe, description;
  EXPECT_EQ(search(exe, description), RuntimeSourceKind::None);
  EXPECT_TRUE(log.inOrder({"Searching for a JVM", "(type B)", "(type S)", "(type E)", "(type Y)", "(type Q)",
                           "Testing relative location " + dir.file("a"), "Search sequence finished"}));
}

TEST_F(RuntimeSearch, RegistryStringsAreTerminatedAndTyped) {
  const std::string key = std::string(kInstallations);
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(h, "unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3);
  DWORD number = 7;
  RegSetValueExA(h, "number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  RegSetValueExA(h, "long", 0, REG_SZ, reinterpret_cast<const BYTE*>("0123456789"), 11);
  RegCloseKey(h);
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_TRUE(readRegistryString(HKEY_CURRENT_USER, key.c_str(), "unterminated", buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "abc");
  EXPECT_FALSE(readRegistryString(HKEY_CURRENT_USER, key.c_str(), "number", buffer, sizeof buffer));
  EXPECT_FALSE(readRegistryString(HKEY_CURRENT_USER, key.c_str(), "long", buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(readRegistryString(HKEY_CURRENT_USER, key.c_str(), "missing", buffer, sizeof buffer));
}
