// The carried runtime against Wine's real file system and processes: untarring through zlib,
// and pack200 preparation with the real unpack200.exe.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/paths.h"
#include "child_process.h"
#include "import_patch.h"
#include "res/resource_ids.h"
#include "runtime/carried_runtime.h"
#include "temp_dir.h"

namespace {

std::string headerBlock(const std::string& name, uint64_t size, char type) {
  std::string block(512, '\0');
  std::memcpy(&block[0], name.data(), std::min<std::size_t>(name.size(), 100));
  char sizeField[16];
  std::snprintf(sizeField, sizeof sizeField, "%011llo", static_cast<unsigned long long>(size));
  std::memcpy(&block[124], sizeField, 11);
  block[156] = type;
  std::memcpy(&block[257], "ustar", 5);
  return block;
}

std::string dirEntry(const std::string& name) { return headerBlock(name, 0, '5'); }
std::string fileEntry(const std::string& name, const std::string& data) {
  std::string out = headerBlock(name, data.size(), '0') + data;
  out.resize((out.size() + 511) / 512 * 512, '\0');
  return out;
}
std::string endBlocks() { return std::string(1024, '\0'); }

void writeGzip(const std::string& path, const std::string& data) {
  gzFile file = gzopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(gzwrite(file, data.data(), static_cast<unsigned>(data.size())), static_cast<int>(data.size()));
  ASSERT_EQ(gzclose(file), Z_OK);
}

bool isDirectory(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A stand-in progress dialog: its control 1001 records every position it is sent.
std::vector<int>* g_positions = nullptr;
LRESULT CALLBACK recordingBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PBM_SETPOS && g_positions) g_positions->push_back(static_cast<int>(wParam));
  return DefWindowProcA(window, message, wParam, lParam);
}

struct RecordingDialog {
  HWND dialog = nullptr;
  std::vector<int> positions;
  RecordingDialog() {
    WNDCLASSA barClass = {};
    barClass.lpfnWndProc = recordingBarProc;
    barClass.lpszClassName = "PathmereRecordingBar";
    RegisterClassA(&barClass);
    dialog = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    CreateWindowA("PathmereRecordingBar", "", WS_CHILD, 0, 0, 10, 10, dialog,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS_BAR)), nullptr, nullptr);
    g_positions = &positions;
  }
  ~RecordingDialog() {
    g_positions = nullptr;
    DestroyWindow(dialog);
  }
};

std::string fixture(const std::string& relative) {
  std::string path = std::string("Z:") + PATHMERE_FIXTURES + "/" + relative;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

bool fixturesPresent() {
  return std::strlen(PATHMERE_FIXTURES) > 0 && pathExists(fixture("unpack200-win64/unpack200.exe").c_str());
}

// The fixtures are read-only; a copy must not be, or unpack200 could not remove it.
void copyFixture(const std::string& relative, const std::string& to) {
  ASSERT_TRUE(CopyFileA(fixture(relative).c_str(), to.c_str(), FALSE)) << relative;
  SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A runtime home with the real unpack200.exe and the given ".pack" files under lib.
void makePackedHome(const std::string& home, const std::vector<std::pair<std::string, std::string>>& packs) {
  for (const char* dir : {"", "\\bin", "\\lib", "\\lib\\ext"}) CreateDirectoryA((home + dir).c_str(), nullptr);
  copyFixture("unpack200-win64/unpack200.exe", home + "\\bin\\unpack200.exe");
  for (const auto& [source, jar] : packs) copyFixture(source, home + "\\" + jar + ".pack");
}

bool isZip(const std::string& path) {
  std::string bytes = readWholeFile(path);
  return bytes.size() > 22 && bytes.compare(0, 4, "PK\x03\x04") == 0;
}

}  // namespace

TEST(UntarGzArchive, WritesTheTreeBelowTheTargetAndRestoresTheCurrentDirectory) {
  TempDir dir;
  std::string data(70000, 'j');
  writeGzip(dir.file("jre.tar.gz"), dirEntry("./") + dirEntry("bin/") + dirEntry("bin/server/") +
                                        fileEntry("bin/server/jvm.dll", data) + fileEntry("release", "JAVA") +
                                        endBlocks());
  std::string target = dir.file("jre");
  ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
  std::string before = currentDirectory();
  EXPECT_TRUE(untarGzArchive(dir.file("jre.tar.gz"), target, nullptr, 0));
  EXPECT_EQ(currentDirectory(), before);
  EXPECT_EQ(readWholeFile(target + "\\bin\\server\\jvm.dll"), data);
  EXPECT_EQ(readWholeFile(target + "\\release"), "JAVA");
}

TEST(UntarGzArchive, MovesTheBarFrom100To200) {
  TempDir dir;
  std::string archive = dirEntry("lib/");
  for (int i = 0; i < 8; ++i) archive += fileEntry("lib/f" + std::to_string(i), std::string(40000, 'a' + i));
  archive += endBlocks();
  writeGzip(dir.file("a.tar.gz"), archive);
  CreateDirectoryA(dir.file("t").c_str(), nullptr);
  RecordingDialog progress;
  ASSERT_TRUE(untarGzArchive(dir.file("a.tar.gz"), dir.file("t"), progress.dialog, archive.size()));
  ASSERT_GE(progress.positions.size(), 8u);
  EXPECT_EQ(progress.positions.front(), 100);  // the first file starts two blocks in
  EXPECT_EQ(progress.positions.back(), 200);
  for (std::size_t i = 1; i < progress.positions.size(); ++i) {
    EXPECT_LE(progress.positions[i - 1], progress.positions[i]);
  }
  EXPECT_GT(progress.positions[progress.positions.size() / 2], 130);
}

TEST(UntarGzArchive, MissingArchiveFailsAndLeavesTheCurrentDirectory) {
  TempDir dir;
  std::string before = currentDirectory();
  EXPECT_FALSE(untarGzArchive(dir.file("none.tar.gz"), dir.path(), nullptr, 0));
  EXPECT_EQ(currentDirectory(), before);
}

TEST(UntarGzArchive, TruncatedGzipFailsEvenAtAnEntryBoundary) {
  TempDir dir;
  std::string archive = fileEntry("a", std::string(5000, 'a')) + fileEntry("b", std::string(5000, 'b')) + endBlocks();
  writeGzip(dir.file("whole.tar.gz"), archive);
  std::string compressed = readWholeFile(dir.file("whole.tar.gz"));
  writeWholeFile(dir.file("cut.tar.gz"), compressed.substr(0, compressed.size() - 30));
  CreateDirectoryA(dir.file("t").c_str(), nullptr);
  EXPECT_FALSE(untarGzArchive(dir.file("cut.tar.gz"), dir.file("t"), nullptr, 0));
}

TEST(UntarGzArchive, HostileNamesWriteNothingOutsideTheTarget) {
  TempDir dir;
  CreateDirectoryA(dir.file("t").c_str(), nullptr);
  CreateDirectoryA(dir.file("t\\sub").c_str(), nullptr);
  std::string absolute = dir.file("abs.txt");
  std::string absoluteName = absolute.substr(2);  // "\users\...": rooted on the current drive
  for (const std::string& name : {std::string("../escaped.txt"), std::string("sub/../../escaped.txt"),
                                  dir.file("escaped.txt"), absoluteName, std::string("ok.txt:stream")}) {
    writeGzip(dir.file("h.tar.gz"), fileEntry("first", "1") + fileEntry(name, "evil") + endBlocks());
    EXPECT_FALSE(untarGzArchive(dir.file("h.tar.gz"), dir.file("t"), nullptr, 0)) << name;
    EXPECT_FALSE(pathExists(dir.file("escaped.txt").c_str())) << name;
    EXPECT_FALSE(pathExists(absolute.c_str())) << name;
    EXPECT_FALSE(pathExists(dir.file("t\\ok.txt").c_str())) << name;
  }
}

TEST(UntarGzArchive, FileBeforeItsDirectoryFailsWithoutCreatingIt) {
  TempDir dir;
  CreateDirectoryA(dir.file("t").c_str(), nullptr);
  writeGzip(dir.file("o.tar.gz"), fileEntry("bin/java.exe", "x") + dirEntry("bin/") + endBlocks());
  EXPECT_FALSE(untarGzArchive(dir.file("o.tar.gz"), dir.file("t"), nullptr, 0));
  EXPECT_FALSE(isDirectory(dir.file("t\\bin")));
}

TEST(UntarGzArchive, SizePastTheEndLeavesNoPartialFile) {
  TempDir dir;
  CreateDirectoryA(dir.file("t").c_str(), nullptr);
  std::string archive = fileEntry("ok", "1") + headerBlock("big", 1 << 20, '0') + std::string(4096, 'b');
  writeGzip(dir.file("s.tar.gz"), archive);
  EXPECT_FALSE(untarGzArchive(dir.file("s.tar.gz"), dir.file("t"), nullptr, 0));
  EXPECT_EQ(readWholeFile(dir.file("t\\ok")), "1");
  EXPECT_FALSE(pathExists(dir.file("t\\big").c_str()));
}

// The child starts suspended, so that Cancel cannot come between its start and its tracking;
// it writes to a part name and the launcher renames it and removes the ".pack".
TEST(RunUnpack200, UnpacksARealArchiveAndRemovesThePackFile) {
  if (!fixturesPresent()) GTEST_SKIP() << "shared fixtures not found (PATHMERE_FIXTURES)";
  TempDir dir;
  std::string home = dir.file("jre");
  makePackedHome(home, {});
  copyFixture("pack200/HelloWorld.pack", dir.file("installer.jar.pack"));
  CreationFlagsRecorder created;
  ASSERT_TRUE(created.ok());
  EXPECT_TRUE(runUnpack200(home, dir.file("installer.jar.pack")));
  EXPECT_TRUE(created.flags() & CREATE_SUSPENDED);
  EXPECT_TRUE(isZip(dir.file("installer.jar")));
  EXPECT_FALSE(pathExists(dir.file("installer.jar.pack").c_str()));
  EXPECT_FALSE(pathExists(dir.file("installer.jar.part").c_str()));
}

namespace {
struct QuietPlanOutput : UnpackPlanOutput {
  void homeStarted(const std::string&) override {}
  void homeDone(const std::string&) override {}
  void packMissing(const std::string&) override {}
};
}  // namespace

// Looked at only after the limit (the untar was busy), a run that ended in time is a success,
// not an overdue run whose archive is removed.
TEST(RunUnpack200, ARunThatEndedInTimeIsNotEndedWhenLookedAtLate) {
  if (!fixturesPresent()) GTEST_SKIP() << "shared fixtures not found (PATHMERE_FIXTURES)";
  TempDir dir;
  std::string home = dir.file("jre");
  makePackedHome(home, {});
  copyFixture("pack200/HelloWorld.pack", dir.file("late.jar.pack"));
  SetEnvironmentVariableA("PATHMERE_UNPACK_LIMIT_MS", "2000");
  QuietPlanOutput output;
  UnpackPlan plan(1, output);
  plan.addIncluded(home + "\\bin\\unpack200.exe", dir.file("late.jar.pack"));
  plan.written(dir.file("late.jar.pack"));
  {
    Unpack200Processes unpacking(plan);
    unpacking.advance(0);
    ASSERT_EQ(plan.running(), 1u);
    Sleep(6000);
    unpacking.runToEnd();
  }
  SetEnvironmentVariableA("PATHMERE_UNPACK_LIMIT_MS", nullptr);
  EXPECT_EQ(plan.job(0).state, UnpackJobState::Succeeded);
  EXPECT_TRUE(isZip(dir.file("late.jar")));
  EXPECT_FALSE(pathExists(dir.file("late.jar.pack").c_str()));
}

TEST(RunUnpack200, NonZeroExitLeavesNoPartialOutput) {
  if (!fixturesPresent()) GTEST_SKIP() << "shared fixtures not found (PATHMERE_FIXTURES)";
  TempDir dir;
  std::string home = dir.file("jre");
  makePackedHome(home, {});
  copyFixture("pack200/malformed/flags_oom.pack", dir.file("broken.jar.pack"));
  EXPECT_FALSE(runUnpack200(home, dir.file("broken.jar.pack")));
  EXPECT_FALSE(pathExists(dir.file("broken.jar").c_str()));
  EXPECT_TRUE(pathExists(dir.file("broken.jar.pack").c_str()));
}

TEST(RunUnpack200, AHungRunIsEndedAtTheLimitAndCountsAsFailed) {
  TempDir dir;
  std::string home = dir.file("jre");
  CreateDirectoryA(home.c_str(), nullptr);
  CreateDirectoryA((home + "\\bin").c_str(), nullptr);
  // The runtime double's java.exe stands in for an unpack200 that never ends.
  ASSERT_TRUE(CopyFileA((testBinDir() + "java_runtime\\java.exe").c_str(), (home + "\\bin\\unpack200.exe").c_str(),
                        FALSE));
  writeWholeFile(home + "\\runtime_double.cfg", "hang=1\r\n");
  writeWholeFile(dir.file("hung.jar.pack"), "pack");
  writeWholeFile(dir.file("hung.jar.part"), "partial");
  SetEnvironmentVariableA("PATHMERE_UNPACK_LIMIT_MS", "1500");
  EXPECT_EQ(unpackTimeLimitMs(), 1500u);
  DWORD start = GetTickCount();
  EXPECT_FALSE(runUnpack200(home, dir.file("hung.jar.pack")));
  DWORD elapsed = GetTickCount() - start;
  for (const char* ignored : {"0", "x", "600000", "99999999999"}) {
    SetEnvironmentVariableA("PATHMERE_UNPACK_LIMIT_MS", ignored);
    EXPECT_EQ(unpackTimeLimitMs(), 600000u) << ignored;
  }
  SetEnvironmentVariableA("PATHMERE_UNPACK_LIMIT_MS", nullptr);
  EXPECT_EQ(unpackTimeLimitMs(), 600000u);
  EXPECT_GE(elapsed, 1400u);
  EXPECT_LT(elapsed, 30000u);
  EXPECT_FALSE(pathExists(dir.file("hung.jar.part").c_str())) << "the partial output stays";
  EXPECT_FALSE(pathExists(dir.file("hung.jar").c_str()));
  EXPECT_TRUE(pathExists(dir.file("hung.jar.pack").c_str()));
  EXPECT_NE(readWholeFile(home + "\\java_runs.txt").find("unpack200.exe"), std::string::npos);
}

TEST(RunUnpack200, MissingPackFileStartsNothing) {
  TempDir dir;
  // No unpack200.exe at all: starting it would end the process.
  EXPECT_TRUE(runUnpack200(dir.path(), dir.file("missing.jar.pack")));
  EXPECT_TRUE(runUnpack200(dir.path(), dir.file("notapack.jar")));
  EXPECT_FALSE(pathExists(dir.file("missing.jar").c_str()));
}

TEST(PrepareRuntime, UnpacksTheListInOrderAndKeepsTheMarker) {
  if (!fixturesPresent()) GTEST_SKIP() << "shared fixtures not found (PATHMERE_FIXTURES)";
  TempDir dir;
  std::string home = dir.file("jre");
  makePackedHome(home, {{"pack200/HelloWorld.pack", "lib\\rt.jar"},
                        {"pack200/InterfaceOnly.pack", "lib\\charsets.jar"},
                        {"pack200/JustResources.pack", "lib\\ext\\localedata.jar"},
                        {"pack200/HelloWorld.pack", "lib\\jsse.jar"}});
  EXPECT_TRUE(prepareRuntime(home));
  for (const char* jar : {"lib\\rt.jar", "lib\\charsets.jar", "lib\\ext\\localedata.jar", "lib\\jsse.jar"}) {
    EXPECT_TRUE(isZip(home + "\\" + jar)) << jar;
    EXPECT_FALSE(pathExists((home + "\\" + jar + ".pack").c_str())) << jar;
  }
  EXPECT_FALSE(pathExists((home + "\\lib\\plugin.jar").c_str()));

  // Prepared: a new rt.jar.pack is left alone while lib\jsse.jar exists.
  copyFixture("pack200/InterfaceOnly.pack", home + "\\lib\\rt.jar.pack");
  std::string rt = readWholeFile(home + "\\lib\\rt.jar");
  prepareRuntime(home);
  EXPECT_EQ(readWholeFile(home + "\\lib\\rt.jar"), rt);
  EXPECT_TRUE(pathExists((home + "\\lib\\rt.jar.pack").c_str()));
}

TEST(PrepareRuntime, AFailedArchiveLeavesTheRuntimeUnprepared) {
  if (!fixturesPresent()) GTEST_SKIP() << "shared fixtures not found (PATHMERE_FIXTURES)";
  TempDir dir;
  std::string home = dir.file("jre");
  makePackedHome(home, {{"pack200/malformed/flags_oom.pack", "lib\\rt.jar"},
                        {"pack200/InterfaceOnly.pack", "lib\\charsets.jar"},
                        {"pack200/HelloWorld.pack", "lib\\jsse.jar"}});
  EXPECT_FALSE(prepareRuntime(home));
  EXPECT_FALSE(pathExists((home + "\\lib\\rt.jar").c_str()));
  EXPECT_TRUE(pathExists((home + "\\lib\\rt.jar.pack").c_str()));
  EXPECT_FALSE(pathExists((home + "\\lib\\jsse.jar").c_str())) << "marked prepared without rt.jar";
  EXPECT_TRUE(pathExists((home + "\\lib\\jsse.jar.pack").c_str()));
}

TEST(PrepareRuntime, FailedMarkerArchiveIsRedoneOnTheNextCall) {
  if (!fixturesPresent()) GTEST_SKIP() << "shared fixtures not found (PATHMERE_FIXTURES)";
  TempDir dir;
  std::string home = dir.file("jre");
  makePackedHome(home, {{"pack200/HelloWorld.pack", "lib\\rt.jar"},
                        {"pack200/malformed/segment_header_oom.pack", "lib\\jsse.jar"}});
  EXPECT_FALSE(prepareRuntime(home));
  EXPECT_TRUE(isZip(home + "\\lib\\rt.jar"));
  EXPECT_FALSE(pathExists((home + "\\lib\\jsse.jar").c_str()));
  EXPECT_FALSE(pathExists((home + "\\lib\\jsse.jar.part").c_str()));
  // What tells an unfinished preparation survives it: the next call redoes it.
  EXPECT_TRUE(pathExists((home + "\\lib\\rt.jar.pack").c_str()));

  copyFixture("pack200/InterfaceOnly.pack", home + "\\lib\\jsse.jar.pack");
  EXPECT_TRUE(prepareRuntime(home));
  EXPECT_TRUE(isZip(home + "\\lib\\jsse.jar"));
  EXPECT_TRUE(isZip(home + "\\lib\\rt.jar"));
  EXPECT_FALSE(pathExists((home + "\\lib\\rt.jar.pack").c_str()));
}

TEST(PrepareRuntime, UnpackedRuntimeIsLeftAlone) {
  TempDir dir;
  // No unpack200.exe: a run would end the process.
  CreateDirectoryA(dir.file("lib").c_str(), nullptr);
  writeWholeFile(dir.file("lib\\rt.jar"), "plain");
  prepareRuntime(dir.path());
  EXPECT_EQ(readWholeFile(dir.file("lib\\rt.jar")), "plain");
}
