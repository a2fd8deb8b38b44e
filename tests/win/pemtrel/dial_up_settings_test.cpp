// Pemtrel's natives against the phonebook double, each call in a probe process started from the
// folder that holds the double. Wine takes WINEDLLOVERRIDES="rasapi32=n" from the Unix
// environment only, so ctest sets it for this program and its children inherit it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "temp_dir.h"

namespace {

struct ProbeRun {
  std::string printed;  // the native's own output
  std::string result;
  std::string pinned;
  std::string isDouble;
  std::string exception;
  std::string misused;
  std::string queried;
};

std::string field(const std::string& out, const std::string& name) {
  std::size_t at = out.find("\n@" + name + "=");
  if (at == std::string::npos) return "<missing>";
  at += name.size() + 3;
  return out.substr(at, out.find('\n', at) - at);
}

class PemtrelTest : public ::testing::Test {
 protected:
  std::string phonebook() const { return dir_.file("phonebook.txt"); }
  void writePhonebook(const std::string& lines) { writeWholeFile(phonebook(), lines); }

  ProbeRun probe(const std::string& native, const std::string& name, const std::string& seconds = "",
                 const std::string& failingJniFunction = "") {
    std::vector<std::string> args = {native, name};
    if (!seconds.empty()) args.push_back(seconds);
    if (!failingJniFunction.empty()) args.insert(args.begin(), {"--fail", failingJniFunction});
    ChildResult child =
        runChild(testBinDir() + "phonebook\\pemtrel_probe.exe", args, {{"PATHMERE_PHONEBOOK", phonebook()}});
    EXPECT_FALSE(child.timedOut);
    EXPECT_EQ(child.exitCode, 0u) << child.err;
    ProbeRun run;
    std::size_t end = child.out.find("\n@result=");
    run.printed = child.out.substr(0, end);
    run.result = field(child.out, "result");
    run.pinned = field(child.out, "pinned");
    run.isDouble = field(child.out, "double");
    run.exception = field(child.out, "exception");
    run.misused = field(child.out, "misused");
    run.queried = field(child.out, "queried");
    EXPECT_EQ(run.misused, "") << native << " called JNI with an exception pending";
    EXPECT_EQ(run.pinned, "0") << "Java characters left unreleased by " << native;
    EXPECT_EQ(run.isDouble, "1") << "Wine's own rasapi32 was loaded: run with WINEDLLOVERRIDES=rasapi32=n";
    return run;
  }

  TempDir dir_;
};

const char kOrvanta[] =
    "name=Orvanta Link\tidle=600\tredial=1\tredialPause=30\toptions=16\tphone=*99#\tdeviceType=modem\t"
    "deviceName=Orvanta TL-700 port 1\n";

TEST_F(PemtrelTest, MissingEntryIsAbsentHasNoIdleTimeAndIsNotCreated) {
  writePhonebook(kOrvanta);
  ProbeRun present = probe("isDUNpresent", "Nowhere");
  EXPECT_EQ(present.result, "0");
  EXPECT_EQ(present.printed,
            "Entering Java_plov_UpdateDialUPSettings_isDUNpresent\n"
            "Conn Name = Nowhere\n"
            "inside isDUNpresent: Conn Name = Nowhere\n"
            "inside isDUNpresent: retVal = 623"
            "ERROR_CANNOT_FIND_PHONEBOOK_ENTRY = 623");

  ProbeRun idle = probe("getIdleTime", "Nowhere");
  EXPECT_EQ(idle.result, "0");
  EXPECT_EQ(idle.printed,
            "Entering Java_UpdateDialUPSettings_getIdleTime\n"
            "Conn Name = Nowhere\n"
            "Error: retVal = 623\n"
            "getIdleTime : retIdleTime = 0 JNI:Idle time = 0\n");

  ProbeRun update = probe("updateDUN", "Nowhere", "900");
  EXPECT_EQ(update.result, "1");
  EXPECT_EQ(readWholeFile(phonebook()), kOrvanta);  // nothing written, nothing created
}

TEST_F(PemtrelTest, ExistingEntryIsPresentWithItsIdleTime) {
  writePhonebook(kOrvanta);
  ProbeRun present = probe("isDUNpresent", "Orvanta Link");
  EXPECT_EQ(present.result, "1");
  EXPECT_EQ(present.printed,
            "Entering Java_plov_UpdateDialUPSettings_isDUNpresent\n"
            "Conn Name = Orvanta Link\n"
            "inside isDUNpresent: Conn Name = Orvanta Link\n"
            "inside isDUNpresent: retVal = 603"
            "ERROR_CANNOT_FIND_PHONEBOOK_ENTRY = 623"
            "inside isDUNpresent: present");

  ProbeRun idle = probe("getIdleTime", "Orvanta Link");
  EXPECT_EQ(idle.result, "600");
  EXPECT_EQ(idle.printed,
            "Entering Java_UpdateDialUPSettings_getIdleTime\n"
            "Conn Name = Orvanta Link\n"
            "retVal = 0\n"
            "getIdleTime : retIdleTime = 600 JNI:Idle time = 600\n");
  EXPECT_EQ(probe("getIdleTime", "orvanta link").result, "0");  // names match exactly
}

TEST_F(PemtrelTest, NonAsciiNameIsFoundExactlyAsSpelled) {
  // "Zürich 東京" precomposed, next to an ASCII look-alike and a decomposed spelling.
  writePhonebook(
      "name=Z\xc3\xbcrich \xe6\x9d\xb1\xe4\xba\xac\tidle=1200\n"
      "name=Zurich \xe6\x9d\xb1\xe4\xba\xac\tidle=60\n"
      "name=Zu\xcc\x88rich \xe6\x9d\xb1\xe4\xba\xac\tidle=90\n");
  ProbeRun idle = probe("getIdleTime", "Z\\u00fcrich \\u6771\\u4eac");
  EXPECT_EQ(idle.result, "1200");
  EXPECT_NE(idle.printed.find("Conn Name = Z\xc3\xbcrich \xe6\x9d\xb1\xe4\xba\xac\n"), std::string::npos)
      << idle.printed;
  EXPECT_EQ(probe("getIdleTime", "Zu\\u0308rich \\u6771\\u4eac").result, "90");
  EXPECT_EQ(probe("isDUNpresent", "Z\\u00fcrich").result, "0");
}

TEST_F(PemtrelTest, UpdateSetsIdleTimeAndRedialCountAndKeepsTheRest) {
  writePhonebook(std::string(kOrvanta) + "name=Other\tidle=5\tredial=9\n");
  ProbeRun update = probe("updateDUN", "Orvanta Link", "0");
  EXPECT_EQ(update.result, "1");
  EXPECT_EQ(update.printed,
            "Conn Name = Orvanta Link\n"
            "B4 updatedun\n"
            "inside updateDUN: Conn Name = Orvanta Link\n"
            "after updatedun\n"
            "sfter release\n"
            "B4 free\n"
            "after free \n"
            "after NULL\n"
            "B4 return\n");
  EXPECT_EQ(readWholeFile(phonebook()),
            "name=Orvanta Link\tidle=0\tredial=3\tredialPause=30\toptions=16\tphone=*99#\tdeviceType=modem\t"
            "deviceName=Orvanta TL-700 port 1\n"
            "name=Other\tidle=5\tredial=9\tredialPause=0\toptions=0\tphone=\tdeviceType=\tdeviceName=\n");
  EXPECT_EQ(probe("getIdleTime", "Orvanta Link").result, "0");

  probe("updateDUN", "Orvanta Link", "3600");
  EXPECT_EQ(probe("getIdleTime", "Orvanta Link").result, "3600");
}

TEST_F(PemtrelTest, NullNameCountsAsMissing) {
  writePhonebook(kOrvanta);
  EXPECT_EQ(probe("isDUNpresent", "-null").result, "0");
  EXPECT_EQ(probe("getIdleTime", "-null").result, "0");
  EXPECT_EQ(probe("updateDUN", "-null", "5").result, "1");
  EXPECT_EQ(readWholeFile(phonebook()), kOrvanta);
}

// Whichever string function of the VM runs out of memory, Remote Access sees the Java string's
// own name or nothing at all, and a native that lost the name returns its failure result with
// the VM's exception left pending for Java.
TEST_F(PemtrelTest, AJavaStringTheVmCannotHandOverNeverReachesRemoteAccess) {
  writePhonebook(kOrvanta);
  struct Native {
    const char* name;
    const char* seconds;
    const char* found;
    const char* failed;
  };
  const Native natives[] = {
      {"isDUNpresent", "", "1", "0"}, {"getIdleTime", "", "600", "0"}, {"updateDUN", "60", "1", "1"}};
  for (const char* function : {"GetStringUTFChars", "GetStringChars", "GetStringCritical"}) {
    for (const Native& native : natives) {
      SCOPED_TRACE(std::string(native.name) + " with " + function + " failing");
      ProbeRun run = probe(native.name, "Orvanta Link", native.seconds, function);
      if (run.exception.empty()) {
        EXPECT_EQ(run.result, native.found);
        EXPECT_NE(run.queried, "");
        EXPECT_EQ(run.queried.find_first_not_of("Orvanta Link|"), std::string::npos) << run.queried;
      } else {
        EXPECT_EQ(run.exception, "java/lang/OutOfMemoryError");
        EXPECT_EQ(run.result, native.failed);
        EXPECT_EQ(run.queried, "") << run.queried;
      }
    }
    writePhonebook(kOrvanta);
  }
  EXPECT_EQ(readWholeFile(phonebook()), kOrvanta);
}

TEST_F(PemtrelTest, ANameTheVmCannotConvertIsAnErrorResult) {
  writePhonebook(kOrvanta);
  ProbeRun idle = probe("getIdleTime", "Orvanta Link", "", "GetStringUTFChars");
  EXPECT_EQ(idle.exception, "java/lang/OutOfMemoryError");
  EXPECT_EQ(idle.result, "0");
  EXPECT_EQ(idle.printed,
            "Entering Java_UpdateDialUPSettings_getIdleTime\n"
            "Conn Name = (null)\n"
            "Error: retVal = 623\n"
            "getIdleTime : retIdleTime = 0 JNI:Idle time = 0\n");
  ProbeRun update = probe("updateDUN", "Orvanta Link", "5", "GetStringUTFChars");
  EXPECT_EQ(update.result, "1");
  EXPECT_EQ(readWholeFile(phonebook()), kOrvanta);
}

// The double must behave as the real service does for the tests above to mean anything: a
// write creates a missing entry, and a missing file is an empty phonebook.
TEST_F(PemtrelTest, PhonebookDoubleCreatesEntriesOnWrite) {
  ProbeRun set = probe("rasSet", "Fresh", "42");
  EXPECT_EQ(set.result, "0");
  EXPECT_EQ(readWholeFile(phonebook()),
            "name=Fresh\tidle=42\tredial=0\tredialPause=0\toptions=0\tphone=\tdeviceType=\tdeviceName=\n");
  EXPECT_EQ(probe("getIdleTime", "Fresh").result, "42");
}

}  // namespace
