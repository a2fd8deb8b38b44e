#include "runtime/search_rules.h"

#include <gtest/gtest.h>

#include <map>

#include "runtime/pe_machine.h"

TEST(SearchList, ItemsAreLetterAndArgument) {
  auto items = parseSearchList("B.\\jre;RC:\\tsr_jres\\1.6.0_21;Y;S;Eown_home");
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[0].kind, 'B');
  EXPECT_EQ(items[0].argument, ".\\jre");
  EXPECT_EQ(items[1].kind, 'R');
  EXPECT_EQ(items[1].argument, "C:\\tsr_jres\\1.6.0_21");
  EXPECT_EQ(items[2].kind, 'Y');
  EXPECT_EQ(items[2].argument, "");
  EXPECT_EQ(items[4].argument, "own_home");
}

TEST(SearchList, EmptyItemsAreSkippedNotTheEnd) {
  auto items = parseSearchList(";;B.\\jre;;;Y;");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].kind, 'B');
  EXPECT_EQ(items[1].kind, 'Y');
  EXPECT_TRUE(parseSearchList("").empty());
  EXPECT_TRUE(parseSearchList(";").empty());
}

TEST(RelativePass, AbsoluteMeansDriveColonOrTwoBackslashes) {
  EXPECT_TRUE(isAbsoluteSearchArgument("C:\\jre"));
  EXPECT_TRUE(isAbsoluteSearchArgument("C:"));
  EXPECT_TRUE(isAbsoluteSearchArgument("c:jre"));
  EXPECT_TRUE(isAbsoluteSearchArgument("\\\\srv\\jre"));
  EXPECT_FALSE(isAbsoluteSearchArgument("\\jre"));
  EXPECT_FALSE(isAbsoluteSearchArgument(".\\jre"));
  EXPECT_FALSE(isAbsoluteSearchArgument("C"));
  EXPECT_FALSE(isAbsoluteSearchArgument(""));
  EXPECT_FALSE(isAbsoluteSearchArgument("\\"));
}

TEST(RelativePass, BAlwaysAAndROnlyWhenRelative) {
  EXPECT_TRUE(triedInRelativePass({'B', "C:\\jre"}));
  EXPECT_TRUE(triedInRelativePass({'B', ".\\jre"}));
  EXPECT_TRUE(triedInRelativePass({'R', ".\\jre"}));
  EXPECT_TRUE(triedInRelativePass({'A', "jre"}));
  EXPECT_FALSE(triedInRelativePass({'R', "C:\\jre"}));
  EXPECT_FALSE(triedInRelativePass({'A', "\\\\srv\\jre"}));
  EXPECT_FALSE(triedInRelativePass({'S', "jre"}));
  EXPECT_FALSE(triedInRelativePass({'E', "jre"}));
  EXPECT_FALSE(triedInRelativePass({'Y', ""}));
}

TEST(HomeLayout, ExecutablesAndToolsJar) {
  EXPECT_EQ(jdkJavaExecutable("c:\\jdk"), "c:\\jdk\\jre\\bin\\java.exe");
  EXPECT_EQ(jreJavaExecutable("c:\\jre"), "c:\\jre\\bin\\java.exe");
  EXPECT_EQ(toolsJarPath("c:\\jdk"), "c:\\jdk\\lib\\tools.jar");
}

TEST(LocatedRuntimes, KeyNameAndBack) {
  std::string exe = "c:\\java\\jre6\\bin\\java.exe";
  EXPECT_EQ(locatedRuntimeKey(exe), "SOFTWARE\\harwell\\nimbo\\locatedjvms\\c:/java/jre6/bin/java.exe");
  EXPECT_EQ(locatedRuntimeExecutable("c:/java/jre6/bin/java.exe"), exe);
}

TEST(JavaSoftCurrentVersion, TheKitWinsOnlyWhenGreater) {
  EXPECT_EQ(javaSoftCurrentKey("1.7", "1.6"), "SOFTWARE\\JavaSoft\\Java Development Kit\\1.7");
  EXPECT_EQ(javaSoftCurrentKey("1.6", "1.6"), "SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.6");
  EXPECT_EQ(javaSoftCurrentKey("", "1.6"), "SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.6");
  EXPECT_EQ(javaSoftCurrentKey("1.6", ""), "SOFTWARE\\JavaSoft\\Java Development Kit\\1.6");
  EXPECT_EQ(javaSoftCurrentKey("", ""), "SOFTWARE\\JavaSoft\\Java Runtime Environment\\");
}

TEST(JavaSoftCurrentVersion, NumberedTheKitWinsWhenItsNumbersAreGreater) {
  EXPECT_EQ(javaSoftCurrentKey("11", "1.8", VersionScheme::Numeric), "SOFTWARE\\JavaSoft\\Java Development Kit\\11");
  EXPECT_EQ(javaSoftCurrentKey("1.8", "8", VersionScheme::Numeric), "SOFTWARE\\JavaSoft\\Java Runtime Environment\\8");
}

TEST(RuntimeFiles, ReleaseFilesOfTheHomeThenOfTheKitAndPathFolders) {
  EXPECT_EQ(releaseFileCandidates("c:\\jdk-21\\bin\\java.exe"), (std::vector<std::string>{"c:\\jdk-21\\release"}));
  EXPECT_EQ(releaseFileCandidates("c:\\jdk8\\JRE\\bin\\javaw.exe"),
            (std::vector<std::string>{"c:\\jdk8\\JRE\\release", "c:\\jdk8\\release"}));
  EXPECT_TRUE(releaseFileCandidates("bin\\java.exe").empty());
  EXPECT_EQ(javacPath("c:\\jdk"), "c:\\jdk\\bin\\javac.exe");

  EXPECT_EQ(searchPathFolders("C:\\Windows;;\"C:\\Program Files\\a;b\\\";C:\\;d:\\java\\bin\\\\;rel"),
            (std::vector<std::string>{"C:\\Windows", "C:\\Program Files\\a;b", "C:\\", "d:\\java\\bin", "rel"}));
  EXPECT_TRUE(searchPathFolders(";;").empty());
}

TEST(RegisteredRuntimes, EveryVendorsKeyWithItsValue) {
  std::map<std::string, std::string> keys;
  for (const RegisteredRuntimeKey& key : registeredRuntimeKeys()) keys[key.pattern] = key.value;
  for (const char* vendor : {"Eclipse Adoptium", "AdoptOpenJDK", "Eclipse Foundation", "Microsoft", "Semeru"}) {
    EXPECT_EQ(keys[std::string("SOFTWARE\\") + vendor + "\\JDK\\*\\*\\MSI"], "Path") << vendor;
    EXPECT_EQ(keys[std::string("SOFTWARE\\") + vendor + "\\JRE\\*\\*\\MSI"], "Path") << vendor;
  }
  EXPECT_EQ(keys["SOFTWARE\\JavaSoft\\JDK\\*"], "JavaHome");
  EXPECT_EQ(keys["SOFTWARE\\JavaSoft\\Java Runtime Environment\\*"], "JavaHome");
  EXPECT_EQ(keys["SOFTWARE\\Azul Systems\\Zulu\\*"], "InstallationPath");
  EXPECT_EQ(keys["SOFTWARE\\BellSoft\\Liberica\\*"], "InstallationPath");
  EXPECT_EQ(keyPatternLevels("SOFTWARE\\Semeru\\JDK\\*\\*\\MSI"),
            (std::vector<std::string>{"SOFTWARE", "Semeru", "JDK", "*", "*", "MSI"}));
}

TEST(BinDirectory, CutsTheFileNameAndItsBackslash) {
  EXPECT_EQ(binDirectoryOf("c:\\jre\\bin\\java.exe"), "c:\\jre\\bin");
  EXPECT_EQ(binDirectoryOf("c:\\jre\\bin\\javaw.exe"), "c:\\jre\\bin");
  EXPECT_EQ(binDirectoryOf("C:\\JRE\\BIN\\JAVAW.EXE"), "C:\\JRE\\BIN");
  EXPECT_EQ(binDirectoryOf("\\java.exe"), "");
}

TEST(BinDirectory, TooShortForTheCutIsRefused) {
  EXPECT_FALSE(binDirectoryOf("java.exe"));
  EXPECT_FALSE(binDirectoryOf("javaw.exe"));
  EXPECT_FALSE(binDirectoryOf(""));
}

TEST(EmbeddedRuntime, FromTheKitsBinDirectory) {
  EXPECT_EQ(embeddedRuntimeExecutable("c:\\jdk\\bin\\java.exe"), "c:\\jdk\\bin\\..\\jre\\bin\\java.exe");
  EXPECT_EQ(embeddedRuntimeExecutable("c:\\jdk\\bin\\javaw.exe"), "c:\\jdk\\bin\\..\\jre\\bin\\java.exe");
  EXPECT_EQ(embeddedRuntimeExecutable("java.exe"), "..\\jre\\bin\\java.exe");
  EXPECT_FALSE(embeddedRuntimeExecutable("a.exe"));
  EXPECT_FALSE(embeddedRuntimeExecutable(""));
}

TEST(WindowedExecutable, ReplacesTheExtension) {
  EXPECT_EQ(windowedExecutable("c:\\jre\\bin\\java.exe"), "c:\\jre\\bin\\javaw.exe");
  EXPECT_EQ(windowedExecutable(".exe"), "w.exe");
  EXPECT_FALSE(windowedExecutable("exe"));
  EXPECT_FALSE(windowedExecutable(""));
}

TEST(VmTypes, FixedOrderWithThePreferredTypeFirst) {
  EXPECT_EQ(vmTypeOrder(""),
            (std::vector<std::string>{"hotspot", "client", "server", "classic", "jrockit", "j9vm"}));
  EXPECT_EQ(vmTypeOrder("server"),
            (std::vector<std::string>{"server", "hotspot", "client", "server", "classic", "jrockit", "j9vm"}));
}

TEST(Lists, SplitSkipsEmptyElements) {
  EXPECT_EQ(splitNonEmpty("c:\\a;;c:\\b;", ';'), (std::vector<std::string>{"c:\\a", "c:\\b"}));
  EXPECT_TRUE(splitNonEmpty(";;", ';').empty());
  EXPECT_TRUE(splitNonEmpty("", ';').empty());
}

TEST(VmTypes, LibraryCandidatesOfTheBinDirectoryThenOfTheEmbeddedRuntime) {
  std::vector<std::string> candidates = vmLibraryCandidates("c:\\jdk\\bin\\java.exe", "");
  ASSERT_EQ(candidates.size(), 12u);
  EXPECT_EQ(candidates[0], "c:\\jdk\\bin\\hotspot\\jvm.dll");
  EXPECT_EQ(candidates[5], "c:\\jdk\\bin\\j9vm\\jvm.dll");
  EXPECT_EQ(candidates[6], "c:\\jdk\\bin\\..\\jre\\bin\\hotspot\\jvm.dll");
  EXPECT_EQ(vmLibraryCandidates("c:\\j\\bin\\javaw.exe", "server")[0], "c:\\j\\bin\\server\\jvm.dll");
  EXPECT_TRUE(vmLibraryCandidates("x.exe", "").empty());
}

namespace {

// The first bytes of an image: a DOS header naming the PE header at peOffset, then the signature
// and the machine field there.
std::vector<uint8_t> imageHeader(uint32_t peOffset, uint16_t machine, const char* signature = "PE\0\0") {
  std::vector<uint8_t> bytes(peOffset + kPeSignatureAndMachineSize, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  for (int i = 0; i < 4; ++i) bytes[60 + i] = static_cast<uint8_t>(peOffset >> (8 * i));
  for (int i = 0; i < 4; ++i) bytes[peOffset + i] = static_cast<uint8_t>(signature[i]);
  bytes[peOffset + 4] = static_cast<uint8_t>(machine);
  bytes[peOffset + 5] = static_cast<uint8_t>(machine >> 8);
  return bytes;
}

std::optional<uint16_t> machineOf(const std::vector<uint8_t>& bytes) {
  std::optional<uint32_t> offset = peHeaderOffset(bytes.data(), bytes.size());
  if (!offset || *offset > bytes.size()) return std::nullopt;
  return peMachineAt(bytes.data() + *offset, bytes.size() - *offset);
}

}  // namespace

TEST(ImageMachine, ReadFromTheHeaderTheDosHeaderNames) {
  EXPECT_EQ(machineOf(imageHeader(0x80, kMachineI386)), kMachineI386);
  EXPECT_EQ(machineOf(imageHeader(0xf8, kMachineAmd64)), kMachineAmd64);
  EXPECT_EQ(machineOf(imageHeader(64, 0xaa64)), 0xaa64);
  EXPECT_EQ(machineName(kMachineI386), "i386");
  EXPECT_EQ(machineName(kMachineAmd64), "x86-64");
  EXPECT_EQ(machineName(0xaa64), "0xaa64");
}

TEST(ImageMachine, AnythingButAnImageHeaderHasNoMachine) {
  std::vector<uint8_t> noDos = imageHeader(0x80, kMachineI386);
  noDos[1] = 'X';
  EXPECT_FALSE(machineOf(noDos));
  EXPECT_FALSE(machineOf(imageHeader(0x80, kMachineI386, "NE\0\0")));
  EXPECT_FALSE(machineOf(imageHeader(0x80, kMachineI386, "PE\0x")));
  std::vector<uint8_t> truncated = imageHeader(0x80, kMachineI386);
  EXPECT_FALSE(peHeaderOffset(truncated.data(), kDosHeaderSize - 1));
  EXPECT_FALSE(peHeaderOffset(nullptr, 0));
  EXPECT_FALSE(peMachineAt(truncated.data() + 0x80, kPeSignatureAndMachineSize - 1));
  // An offset far past the file is only a number here; the reader's seek or read then fails.
  std::vector<uint8_t> far = imageHeader(0x80, kMachineI386);
  far[63] = 0xff;
  EXPECT_EQ(peHeaderOffset(far.data(), far.size()), 0xff000080u);
}
