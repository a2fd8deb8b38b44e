// Loading the VM library: VM-type order, the kit's embedded runtime, PATH, the failure rows.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "base/paths.h"
#include "child_process.h"
#include "runtime/pe_machine.h"
#include "runtime/runtime_choice.h"
#include "runtime/vm_library.h"
#include "runtime_fixture.h"
#include "temp_dir.h"
#include "vm/java_vm_launcher.h"

namespace {

std::optional<std::string> environmentPath() {
  char buffer[32768];
  SetLastError(ERROR_SUCCESS);
  DWORD n = GetEnvironmentVariableA("PATH", buffer, sizeof buffer);
  if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
  return std::string(buffer, n);
}

std::string modulePath(HMODULE module) {
  char path[MAX_PATH * 4] = "";
  DWORD n = GetModuleFileNameA(module, path, sizeof path);
  return makeAbsolutePath(std::string(path, n), false);
}

class VmLibrary : public RuntimeTest {
 protected:
  ScopedConfig config{{{126, "1.6"}, {127, "1.7"}, {128, ""}, {130, "1"}, {131, "0"}, {107, "5"},
                       {152, ""}, {160, ""}, {10003, dir.path()}}};
  RegistryTrees cache{{{HKEY_CURRENT_USER, "SOFTWARE\\harwell\\nimbo\\jvms"}}};
  // Each test process loads a library at most once per path: every runtime gets its own directory.
  ScopedEnvironment path{"PATH", environmentPath() ? environmentPath()->c_str() : nullptr};

  LaunchState launch;
};

}  // namespace

TEST_F(VmLibrary, ServerOnlyLoadsAfterTheEarlierTypesFail) {
  RuntimeLayout layout;
  layout.vmType = "server";
  TestRuntime runtime(dir.file("jre"), layout);
  HMODULE module = loadJvmFromBinDir(runtime.javaExe());
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(modulePath(module), makeAbsolutePath(runtime.binDir() + "\\server\\jvm.dll", false));
  EXPECT_TRUE(log.inOrder({"Trying " + runtime.binDir() + "\\hotspot\\jvm.dll (exists 0)",
                           "Trying " + runtime.binDir() + "\\client\\jvm.dll (exists 0)",
                           "Trying " + runtime.binDir() + "\\server\\jvm.dll (exists 1)"}));
  EXPECT_EQ(log.text().find("classic"), std::string::npos);
}

TEST_F(VmLibrary, PreferredTypeComesFirst) {
  ScopedConfig preferred({{152, "server"}});
  TestRuntime runtime(dir.file("jre"));
  copyFileOrFail(doubleFile("jvm.dll"), runtime.binDir() + "\\server\\jvm.dll");
  HMODULE module = loadJvmFromBinDir(runtime.javaExe());
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(modulePath(module), makeAbsolutePath(runtime.binDir() + "\\server\\jvm.dll", false));
  EXPECT_EQ(log.text().find("client"), std::string::npos);
}

TEST_F(VmLibrary, KitWithoutItsOwnLibraryLoadsTheEmbeddedRuntimes) {
  RuntimeLayout layout;
  layout.jdk = true;
  TestRuntime kit(dir.file("jdk"), layout);
  HMODULE module = loadJvmForJavaExe(kit.home() + "\\bin\\java.exe");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(modulePath(module), makeAbsolutePath(kit.home() + "\\jre\\bin\\client\\jvm.dll", false));
  EXPECT_TRUE(log.inOrder({"Trying " + kit.home() + "\\bin\\jrockit\\jvm.dll (exists 0)",
                           "Trying " + kit.home() + "\\bin\\..\\jre\\bin\\hotspot\\jvm.dll (exists 0)"}));
}

TEST_F(VmLibrary, PathIsRestoredExactlyAfterAFailedLoadAndKeptAfterAGoodOne) {
  std::optional<std::string> before = environmentPath();
  RuntimeLayout none;
  none.jvm = false;
  TestRuntime empty(dir.file("empty"), none);
  EXPECT_EQ(loadJvmFromBinDir(empty.javaExe()), nullptr);
  EXPECT_EQ(environmentPath(), before);
  EXPECT_TRUE(log.inOrder({"Setting PATH " + before.value_or("") + ";" + empty.binDir(), "Setting PATH "}));

  TestRuntime good(dir.file("good"));
  ASSERT_NE(loadJvmFromBinDir(good.javaExe()), nullptr);
  EXPECT_EQ(environmentPath(), before.value_or("") + ";" + good.binDir());
  EXPECT_STREQ(std::getenv("PATH"), (before.value_or("") + ";" + good.binDir()).c_str());
}

TEST_F(VmLibrary, TooShortExecutablePathIsRefusedBeforeAnyCut) {
  EXPECT_EQ(loadJvmFromBinDir("java.exe"), nullptr);
  EXPECT_EQ(loadJvmForJavaExe("x.exe"), nullptr);
  EXPECT_EQ(createJavaVmEntry(nullptr), nullptr);
}

TEST_F(VmLibrary, LoadDllTakesAHomeDirectoryAndBindsTheEntryPoint) {
  TestRuntime runtime(dir.file("jre"));
  ASSERT_TRUE(LoadDLL(false, runtime.home().c_str(), false, launch));
  EXPECT_NE(launch.createJavaVm, nullptr);
  EXPECT_TRUE(log.inOrder({"LoadDLL (0, " + runtime.home() + ", 0)", "Got JRE location " + runtime.home() + " (java exe: 0)",
                           "MinVersion: 1.6, MaxVersion: 1.7", "Trying to load JVM-DLL from ",
                           "Loading of JVM-DLL successful"}));
  EXPECT_EQ(runtime.runs(), 0) << "a given home directory is not probed";
}

TEST_F(VmLibrary, AHandPickedExecutableIsProbedEvenWhenCached) {
  TestRuntime runtime(dir.file("picked"));
  std::string exe = runtime.javaExe();
  ASSERT_TRUE(LoadDLL(false, exe.c_str(), true, launch));
  ASSERT_TRUE(LoadDLL(false, exe.c_str(), true, launch));
  EXPECT_EQ(runtime.runs(), 2);
}

TEST_F(VmLibrary, UnusableGivenExecutableAndNothingFoundFailBeforeLoading) {
  std::string missing = dir.file("none\\bin\\java.exe");
  EXPECT_FALSE(LoadDLL(false, missing.c_str(), true, launch));
  EXPECT_FALSE(LoadDLL(false, nullptr, false, launch));
  EXPECT_TRUE(log.inOrder({"ERROR: Provided JVM unusable", "Searching for a JVM", "ERROR: No JVM found"}));
  EXPECT_EQ(log.text().find("Trying to load"), std::string::npos);
  EXPECT_EQ(launch.createJavaVm, nullptr);
}

TEST_F(VmLibrary, NoLibraryLogsBothErrors) {
  RuntimeLayout none;
  none.jvm = false;
  TestRuntime runtime(dir.file("nolib"), none);
  std::optional<std::string> before = environmentPath();
  EXPECT_FALSE(LoadDLL(false, runtime.home().c_str(), false, launch));
  EXPECT_TRUE(log.inOrder({"ERROR: Could not get DLL-Handle.", "ERROR: Could not load functions"}));
  EXPECT_EQ(environmentPath(), before);
}

TEST_F(VmLibrary, ALibraryWithoutTheEntryPointIsDroppedAndPathPutBack) {
  RuntimeLayout none;
  none.jvm = false;
  TestRuntime runtime(dir.file("noentry"), none);
  copyFileOrFail(testBinDir() + "Nelvar.dll", runtime.binDir() + "\\client\\jvm.dll");
  std::optional<std::string> before = environmentPath();
  EXPECT_FALSE(LoadDLL(false, runtime.home().c_str(), false, launch));
  std::string text = log.text();
  EXPECT_EQ(text.find("Could not get DLL-Handle."), std::string::npos);
  EXPECT_TRUE(log.inOrder({"(exists 1)", "ERROR: Could not load functions"}));
  EXPECT_EQ(environmentPath(), before);
  EXPECT_EQ(launch.createJavaVm, nullptr);
  EXPECT_EQ(GetModuleHandleA((runtime.binDir() + "\\client\\jvm.dll").c_str()), nullptr);
}

namespace {

std::string fixture(const std::string& relative) {
  std::string path = std::string("Z:") + PATHMERE_FIXTURES + "/" + relative;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

#if PATHMERE_BITS == 64
const char* kOwnVm = "java-vm/windows-x86_64/jvm.dll";
const char* kOtherVm = "java-vm/windows-i386/jvm.dll";
#else
const char* kOwnVm = "java-vm/windows-i386/jvm.dll";
const char* kOtherVm = "java-vm/windows-x86_64/jvm.dll";
#endif

// A runtime of the double's programs around a real VM library of either architecture.
TestRuntime realVmRuntime(const std::string& home, const char* vm) {
  RuntimeLayout layout;
  layout.jvm = false;
  TestRuntime runtime(home, layout);
  std::string library = runtime.binDir() + "\\client\\jvm.dll";
  copyFileOrFail(fixture(vm), library);
  // The fixtures are read-only, and so would be the copy, which the test directory must delete.
  SetFileAttributesA(library.c_str(), FILE_ATTRIBUTE_NORMAL);
  return runtime;
}

}  // namespace

TEST_F(VmLibrary, ARuntimeOfTheOtherArchitectureIsRefusedAndTheSearchGoesOn) {
  if (std::strlen(PATHMERE_FIXTURES) == 0 || !pathExists(fixture(kOtherVm).c_str())) {
    GTEST_SKIP() << "shared fixtures not found (PATHMERE_FIXTURES)";
  }
  EXPECT_EQ(readPeMachine(fixture("java-vm/windows-i386/jvm.dll")), kMachineI386);
  EXPECT_EQ(readPeMachine(fixture("java-vm/windows-x86_64/jvm.dll")), kMachineAmd64);
  EXPECT_EQ(readPeMachine(doubleFile("java.exe")), PATHMERE_BITS == 64 ? kMachineAmd64 : kMachineI386);
  writeWholeFile(dir.file("text.dll"), "MZ but nothing more");
  EXPECT_FALSE(readPeMachine(dir.file("text.dll")));
  EXPECT_FALSE(readPeMachine(dir.file("missing.dll")));

  TestRuntime other = realVmRuntime(dir.file("other"), kOtherVm);
  TestRuntime own = realVmRuntime(dir.file("own"), kOwnVm);
  ScopedConfig list({{128, "R" + other.home() + ";R" + own.home()}});
  ASSERT_TRUE(LoadDLL(false, nullptr, false, launch)) << log.text();
  EXPECT_NE(launch.createJavaVm, nullptr);
  std::string otherExe = makeAbsolutePath(other.javaExe(), false);
  std::string ownExe = makeAbsolutePath(own.javaExe(), false);
  EXPECT_TRUE(log.inOrder({"Testing location " + other.home() + " (type R)",
                           "Refusing " + otherExe + ": its VM library ", "checkJavaExe returning 0", "Testing location " + own.home() + " (type R)",
                           "Trying to load JVM-DLL from " + ownExe, "Loading of JVM-DLL successful"}))
      << log.text();
  EXPECT_EQ(log.text().find("Failed with error code"), std::string::npos);
  EXPECT_EQ(other.runs(), 0) << "refused before the probe";
  EXPECT_EQ(own.runs(), 1);

  // Handed over directly, the other architecture's library is skipped, never loaded.
  EXPECT_EQ(loadJvmFromBinDir(other.javaExe()), nullptr);
  EXPECT_TRUE(log.inOrder({"Skipping " + other.binDir() + "\\client\\jvm.dll: built for "}));
}

TEST_F(VmLibrary, ARestrictedSearchSkipsLibrariesPlantedBesideTheLauncherAndInTheCurrentDirectory) {
  std::string app = dir.file("downloads");
  std::string current = dir.file("current");
  copyFileOrFail(testBinDir() + "load_dll_probe.exe", app + "\\setup.exe");
  copyFileOrFail(testBinDir() + "Nelvar.dll", app + "\\planted_beside.dll");
  copyFileOrFail(testBinDir() + "Nelvar.dll", current + "\\planted_current.dll");
  TestRuntime runtime(dir.file("jre"));
  char before[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof before, before);
  ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));
  std::vector<std::string> args = {"--bare", "planted_beside.dll", "--bare", "planted_current.dll",
                                   "--narrow", "126=1.6", "--location", runtime.home()};
  ChildResult open = runChild(app + "\\setup.exe", args, {{"TMP", dir.path()}});
  args.insert(args.begin(), "--restrict");
  ChildResult restricted = runChild(app + "\\setup.exe", args, {{"TMP", dir.path()}});
  SetCurrentDirectoryA(before);
  // What the system does without the restriction: both planted libraries load.
  EXPECT_EQ(open.out, "bare planted_beside.dll 1\r\nbare planted_current.dll 1\r\nLoadDLL 1\r\n") << open.err;
  EXPECT_EQ(restricted.out, "bare planted_beside.dll 0\r\nbare planted_current.dll 0\r\nLoadDLL 1\r\n")
      << restricted.err;
}

// The extraction folder holds the Java program's own native libraries, loaded by name: it is
// searched whether or not the system can restrict the search, the current directory is not.
TEST_F(VmLibrary, TheExtractionFolderIsSearchedWithAndWithoutARestrictableSearch) {
  std::string app = dir.file("downloads");
  std::string extraction = dir.file("nbo1.tmp_dir");
  std::string current = dir.file("current");
  copyFileOrFail(testBinDir() + "load_dll_probe.exe", app + "\\setup.exe");
  copyFileOrFail(testBinDir() + "Nelvar.dll", extraction + "\\carried.dll");
  copyFileOrFail(testBinDir() + "Nelvar.dll", current + "\\planted_current.dll");
  char before[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof before, before);
  ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));
  std::vector<std::string> args = {"--restrict", "--extraction", extraction, "--bare", "carried.dll",
                                   "--bare", "planted_current.dll"};
  ChildResult restricted = runChild(app + "\\setup.exe", args, {{"TMP", dir.path()}});
  args.insert(args.begin(), "--legacy");
  ChildResult legacy = runChild(app + "\\setup.exe", args, {{"TMP", dir.path()}});
  SetCurrentDirectoryA(before);
  const std::string bare = "bare carried.dll 1\r\nbare planted_current.dll 0\r\n";
  EXPECT_EQ(restricted.out.substr(0, restricted.out.find("LoadDLL")), bare) << restricted.err;
  EXPECT_EQ(legacy.out.substr(0, legacy.out.find("LoadDLL")), bare) << legacy.err;
}

// A VM library's own imports come from its runtime, never from beside the launcher (a Java 7 or
// 8 VM in bin\client imports msvcr100.dll from bin\).
TEST_F(VmLibrary, TheVmLibrarysImportsComeFromItsRuntimeNotFromBesideTheLauncher) {
  std::string app = dir.file("downloads");
  copyFileOrFail(testBinDir() + "load_dll_probe.exe", app + "\\setup.exe");
  copyFileOrFail(testBinDir() + "importing_vm\\vm_dependency.dll", app + "\\vm_dependency.dll");
  RuntimeLayout layout;
  layout.jvm = false;
  TestRuntime runtime(dir.file("jre"), layout);
  copyFileOrFail(testBinDir() + "importing_vm\\jvm.dll", runtime.binDir() + "\\client\\jvm.dll");
  copyFileOrFail(testBinDir() + "importing_vm\\vm_dependency.dll", runtime.binDir() + "\\vm_dependency.dll");
  ChildResult restricted = runChild(app + "\\setup.exe",
                                    {"--restrict", "--narrow", "126=1.6", "--location", runtime.home(), "--module",
                                     "vm_dependency.dll"},
                                    {{"TMP", dir.path()}});
  std::string expected = makeAbsolutePath(runtime.binDir() + "\\vm_dependency.dll", false);
  ASSERT_EQ(restricted.out.rfind("LoadDLL 1\r\nmodule vm_dependency.dll ", 0), 0u) << restricted.out << restricted.err;
  std::string loaded = restricted.out.substr(restricted.out.find(".dll ") + 5);
  loaded = loaded.substr(0, loaded.find('\r'));
  EXPECT_EQ(_stricmp(loaded.c_str(), expected.c_str()), 0) << loaded << " instead of " << expected;
}

namespace {

// The failure messages as the build shows them: the 32-bit build says "32" and uses 1017 and
// 1019, its 64-bit twin says "64" and uses 1018 and 1020.
#if PATHMERE_BITS == 64
const char* kBits = "64";
#else
const char* kBits = "32";
#endif

class LoadFailureMessage : public VmLibrary {
 protected:
  RegistryTrees javaSoft{{{HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\Java Runtime Environment"}}};

  ChildResult probe(std::vector<std::string> args, const std::map<std::string, std::string>& env = {}) {
    std::vector<std::string> all = {"--narrow", "126=1.6", "--narrow", "127=1.7", "--narrow", "130=1",
                                    "--narrow", "10003=" + dir.path(),
                                    "--narrow", "1005=Message 1005",
                                    "--narrow", "1016=Message 1016 {0}-bit",
                                    "--narrow", "1017=Message 1017 {0} 32-bit",
                                    "--narrow", "1018=Message 1018 {0} 64-bit",
                                    "--narrow", "1019=Message 1019 {0} 32-bit",
                                    "--narrow", "1020=Message 1020 {0} 64-bit"};
    all.insert(all.end(), args.begin(), args.end());
    std::map<std::string, std::string> environment = {{"TMP", dir.path()}};
    environment.insert(env.begin(), env.end());
    return runChild(testBinDir() + "load_dll_probe.exe", all, environment);
  }

  TestRuntime withoutLibrary(const char* name) {
    RuntimeLayout layout;
    layout.jvm = false;
    return TestRuntime(dir.file(name), layout);
  }
};

bool startsWith(const std::string& text, const std::string& start) { return text.compare(0, start.size(), start) == 0; }

}  // namespace

TEST_F(LoadFailureMessage, UnusableGivenJavaExeSaysWhyAndNothingFoundShowsTheNoJvmMessage) {
  std::string picked = dir.file("none\\bin\\java.exe");
  ChildResult given = probe({"--location", picked, "--exe"});
  EXPECT_EQ(given.out, "LoadDLL 0\r\n");
  EXPECT_TRUE(startsWith(given.err, picked)) << given.err;
  EXPECT_NE(given.err.find(std::string("is not a ") + kBits + "-bit Java(TM) runtime: it reported no Java version."),
            std::string::npos) << given.err;
  ChildResult none = probe({});
  EXPECT_TRUE(startsWith(none.err, std::string("Message 1016 ") + kBits + "-bit")) << none.err;
}

TEST_F(LoadFailureMessage, LocationWithoutLibraryShowsTheDamagedMessage) {
  TestRuntime runtime = withoutLibrary("damaged");
  ChildResult result = probe({"--location", runtime.home()});
  std::string expected = PATHMERE_BITS == 64 ? "Message 1020 " + runtime.home() + " 64-bit"
                                             : "Message 1019 " + runtime.home() + " 32-bit";
  EXPECT_TRUE(startsWith(result.err, expected)) << result.err;
}

TEST_F(LoadFailureMessage, EnvironmentVariableRuntimeShowsTheVariableMessage) {
  TestRuntime runtime = withoutLibrary("envnolib");
  ChildResult result = probe({}, {{"NIMBO_JAVA_HOME", runtime.home()}});
  std::string expected = PATHMERE_BITS == 64 ? "Message 1018 NIMBO_JAVA_HOME 64-bit"
                                             : "Message 1017 NIMBO_JAVA_HOME 32-bit";
  EXPECT_TRUE(startsWith(result.err, expected)) << result.err;
}

TEST_F(LoadFailureMessage, SearchPathRuntimeShowsTheNoJvmMessage) {
  TestRuntime runtime = withoutLibrary("pathnolib");
  std::string path = runtime.binDir() + ";" + environmentPath().value_or("");
  ChildResult result = probe({"--narrow", "128=S"}, {{"PATH", path}});
  EXPECT_TRUE(startsWith(result.err, std::string("Message 1016 ") + kBits + "-bit")) << result.err;
}

TEST_F(LoadFailureMessage, RegistryRuntimeShowsTheStartMessage) {
  TestRuntime runtime = withoutLibrary("regnolib");
  setRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\Java Runtime Environment", "CurrentVersion", "1.6");
  setRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.6", "JavaHome",
                    runtime.home());
  ChildResult result = probe({"--narrow", "128=Y"});
  EXPECT_TRUE(startsWith(result.err, "Message 1005")) << result.err;
}
