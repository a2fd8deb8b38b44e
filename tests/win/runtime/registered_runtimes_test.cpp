// The runtimes users have installed, laid out and registered the way each vendor's installer
// does, and which one each search list picks with byte-wise and with numbered versions.
#include <gtest/gtest.h>

#include <vector>

#include "base/paths.h"
#include "runtime/pe_machine.h"
#include "runtime/runtime_search.h"
#include "runtime_fixture.h"
#include "temp_dir.h"

namespace {

// One vendor's install: where its files lie, what "java -version" and its release file say, and
// the registry value its installer writes (key relative to HKEY_LOCAL_MACHINE, value name).
struct Install {
  const char* name;
  const char* versionLine;
  const char* releaseVersion;  // null: no release file
  const char* vmType;
  std::vector<std::pair<std::string, const char*>> keys;
  bool javaExe = true;
};

const char* const kNote = "NOTE: Picked up JDK_JAVA_OPTIONS: -Xss2m";

std::vector<Install> installs() {
  return {
      {"oracle-jre8", "java version \"1.8.0_401\"", "1.8.0_401", "server",
       {{"SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8", "JavaHome"},
        {"SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8.0_401", "JavaHome"}}},
      {"oracle-jdk9", "java version \"9.0.4\"", "9.0.4", "server", {{"SOFTWARE\\JavaSoft\\JDK\\9.0.4", "JavaHome"}}},
      {"oracle-jdk21", "java version \"21.0.2\" 2024-01-16 LTS", "21.0.2", "server",
       {{"SOFTWARE\\JavaSoft\\JDK\\21.0.2", "JavaHome"}}},
      {"temurin8", "openjdk version \"1.8.0_402\"", "1.8.0_402", "server",
       {{"SOFTWARE\\Eclipse Adoptium\\JRE\\8.0.402.6\\hotspot\\MSI", "Path"}}},
      {"temurin17", "openjdk version \"17.0.10\" 2024-01-16", "17.0.10", "server",
       {{"SOFTWARE\\Eclipse Adoptium\\JDK\\17.0.10.7\\hotspot\\MSI", "Path"}}},
      {"temurin21", "openjdk version \"21.0.3\" 2024-04-16 LTS", "21.0.3", "server",
       {{"SOFTWARE\\Eclipse Adoptium\\JDK\\21.0.3.9\\hotspot\\MSI", "Path"}}},
      {"zulu11", "openjdk version \"11.0.22\" 2024-01-16 LTS", "11.0.22", "server",
       {{"SOFTWARE\\Azul Systems\\Zulu\\zulu-11", "InstallationPath"}}},
      {"corretto8", "openjdk version \"1.8.0_402\"", "1.8.0_402", "server",
       {{"SOFTWARE\\JavaSoft\\Java Development Kit\\1.8", "JavaHome"}}},
      {"corretto11", "openjdk version \"11.0.9\" 2020-10-20 LTS", "11.0.9", "server",
       {{"SOFTWARE\\JavaSoft\\JDK\\11.0.9", "JavaHome"}}},
      {"microsoft21", "openjdk version \"21.0.2\" 2024-01-16 LTS", "21.0.2", "server",
       {{"SOFTWARE\\Microsoft\\JDK\\21.0.2.13\\hotspot\\MSI", "Path"}}},
      {"liberica17", "openjdk version \"17.0.9\" 2023-10-17 LTS", "17.0.9", "server",
       {{"SOFTWARE\\BellSoft\\Liberica\\jdk-17", "InstallationPath"}}},
      {"semeru8", "openjdk version \"1.8.0_402\"", "1.8.0_402", "j9vm",
       {{"SOFTWARE\\Semeru\\JRE\\8.0.402.6\\openj9\\MSI", "Path"}}},
      {"semeru17", "openjdk version \"17.0.10\" 2024-01-16", "17.0.10", "server",
       {{"SOFTWARE\\Semeru\\JDK\\17.0.10.7\\openj9\\MSI", "Path"}}},
      {"jlink-image", "", "17.0.10", "server", {}, false},
  };
}

class RegisteredRuntimes : public RuntimeTest {
 protected:
  ScopedConfig config{{{126, "1.8"}, {127, ""}, {130, "0"}, {131, "0"}, {107, "5"}, {10003, dir.path()}}};
  RegistryTrees keys{{{HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\Java Runtime Environment"},
                      {HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\Java Development Kit"},
                      {HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\JDK"},
                      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Eclipse Adoptium"},
                      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Azul Systems"},
                      {HKEY_LOCAL_MACHINE, "SOFTWARE\\WOW6432Node\\Azul Systems"},
                      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\JDK"},
                      {HKEY_LOCAL_MACHINE, "SOFTWARE\\BellSoft"},
                      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Semeru"},
                      {HKEY_CURRENT_USER, "SOFTWARE\\harwell\\nimbo\\jvms"}}};
  std::map<std::string, std::string> exes;

  void layOut() {
    for (const Install& install : installs()) {
      RuntimeLayout layout;
      layout.vmType = install.vmType;
      layout.script["version_line"] = install.versionLine;
      layout.script["notice_line"] = kNote;
      TestRuntime runtime(dir.file(install.name), layout);
      if (install.releaseVersion) {
        writeWholeFile(runtime.home() + "\\release", std::string("IMPLEMENTOR=\"x\"\r\nJAVA_VERSION=\"") +
                                                         install.releaseVersion + "\"\r\nMODULES=\"java.base\"\r\n");
      }
      if (!install.javaExe) DeleteFileA(runtime.javaExe().c_str());
      // The MSI packages write the folder with a final backslash.
      for (const auto& [key, value] : install.keys) setRegistryString(HKEY_LOCAL_MACHINE, key, value, runtime.home() + "\\");
      exes[install.name] = makeAbsolutePath(runtime.javaExe(), false);
    }
    // Oracle's copies of java.exe, first on PATH, with no runtime around them.
    copyFileOrFail(doubleFile("java.exe"), dir.file("javapath\\java.exe"));
    writeWholeFile(dir.file("javapath\\runtime_double.cfg"), "version_line=java version \"1.8.0_401\"\r\n");
    exes["javapath"] = makeAbsolutePath(dir.file("javapath\\java.exe"), false);
  }
};

}  // namespace

TEST_F(RegisteredRuntimes, EachListPicksWithBothSchemes) {
  layOut();
  char old[32768];
  DWORD n = GetEnvironmentVariableA("PATH", old, sizeof old);
  std::string path = dir.file("javapath") + ";" + dir.file("semeru8\\bin") + ";\"" + dir.file("zulu11\\bin") + "\";" +
                     std::string(old, n);
  ScopedEnvironment extended("PATH", path.c_str());
  struct Row {
    std::string list;
    const char* min;
    const char* scheme0;  // the pick with byte-wise versions; "" for none
    const char* scheme1;  // with numbered versions
  };
  const Row rows[] = {
      {"Y", "1.8", "oracle-jre8", "oracle-jre8"},
      // Byte-wise, 9.0.4 is the greatest; a minimum of "11" refuses every 1.8 but not 9.0.4.
      {"M", "1.8", "oracle-jdk9", "temurin21"},
      {"M", "11", "oracle-jdk9", "temurin21"},
      {"M", "1.8.0_60", "oracle-jdk9", "temurin21"},
      {"S", "1.8", "javapath", "javapath"},
      // OpenJ9's VM library lies in bin\j9vm.
      {"P", "1.8", "semeru8", "semeru8"},
      {"P", "11", "zulu11", "zulu11"},
      {"B" + dir.file("jlink-image"), "1.8", "", "jlink-image"},
      {"M;Y", "22", "oracle-jdk9", ""},
  };
  for (const Row& row : rows) {
    for (int scheme : {0, 1}) {
      ScopedConfig settings({{128, row.list}, {126, row.min}, {163, std::to_string(scheme)}});
      std::string exe, description;
      RuntimeSourceKind kind = findJavaRuntime(exe, description);
      std::string expected = scheme == 0 ? row.scheme0 : row.scheme1;
      SCOPED_TRACE(row.list + " min " + row.min + " scheme " + std::to_string(scheme));
      EXPECT_EQ(kind == RuntimeSourceKind::None ? "" : exe, expected.empty() ? "" : exes[expected]);
    }
  }
  // Every candidate and why it lost is in the log; the copies on PATH are passed over by name.
  EXPECT_TRUE(log.inOrder({"Registered runtime " + dir.file("oracle-jre8"), "Refusing " + dir.file("oracle-jre8") +
                                                                               ": version 1.8.0_401 is below the minimum 22"}));
  EXPECT_TRUE(log.inOrder({"Passing over " + dir.file("javapath\\java.exe")}));
  EXPECT_TRUE(log.inOrder({"got version from release file 21.0.3", "Using registered runtime " + exes["temurin21"]}));
}

TEST_F(RegisteredRuntimes, KitsOfNineAndLaterAndTheOtherRegistryView) {
  layOut();
  ScopedConfig kitsOnly({{131, "1"}, {163, "1"}, {128, "M"}, {126, "17"}, {127, "17"}});
  std::string exe, description;
  // No tools.jar since Java 9: the compiler marks the kit.
  writeWholeFile(dir.file("temurin17\\bin\\javac.exe"), "MZ");
  EXPECT_EQ(findJavaRuntime(exe, description), RuntimeSourceKind::RegistryLookup);
  EXPECT_EQ(exe, exes["temurin17"]);
  ScopedConfig byteWise({{163, "0"}});
  EXPECT_EQ(findJavaRuntime(exe, description), RuntimeSourceKind::None);

  // A runtime registered only in the other view is not offered, but is named for the message.
  keys.clean();
  std::string home = dir.file("zulu32");
  makeDirectories(home + "\\bin\\client");
  std::string image(0x86, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  image[60] = 0x80;
  image.replace(0x80, 6, std::string("PE\0\0\x4c\x01", 6));
  writeWholeFile(home + "\\bin\\client\\jvm.dll", image);
  setRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\WOW6432Node\\Azul Systems\\Zulu\\zulu-8-x86", "InstallationPath", home);
  ScopedConfig anyKind({{131, "0"}, {126, ""}, {127, ""}});
  EXPECT_EQ(findJavaRuntime(exe, description), RuntimeSourceKind::None);
  EXPECT_EQ(registeredRuntimeFor(KEY_WOW64_32KEY, kMachineI386), home);
  EXPECT_EQ(registeredRuntimeFor(KEY_WOW64_32KEY, kMachineAmd64), std::nullopt);
}
