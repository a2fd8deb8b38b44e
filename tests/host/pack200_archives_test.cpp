#include "runtime/pack200_archives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

TEST(Pack200Archives, ListEndsWithTheMarkerArchive) {
  EXPECT_STREQ(kPackedArchives.front(), "lib\\rt.jar");
  EXPECT_STREQ(kPackedArchives.back(), "lib\\jsse.jar");
}

TEST(Pack200Archives, TargetIsThePathWithoutPackSuffix) {
  EXPECT_EQ(unpackTargetPath("C:\\t\\jre\\lib\\rt.jar.pack"), "C:\\t\\jre\\lib\\rt.jar");
  EXPECT_EQ(unpackTargetPath("a.pack"), "a");
  EXPECT_EQ(unpackTargetPath(".pack"), "");
  EXPECT_EQ(unpackTargetPath("rt.jar"), "");
  EXPECT_EQ(unpackTargetPath("pack"), "");
  EXPECT_EQ(unpackTargetPath("x.PACK"), "");
}

// Without -r: the launcher removes the ".pack" itself once the archive is in place.
TEST(Pack200Archives, CommandLineWritesToThePartNameAndKeepsThePack) {
  EXPECT_EQ(unpackPartPath("C:\\t\\a b.jar"), "C:\\t\\a b.jar.part");
  EXPECT_EQ(unpack200CommandLine("C:\\j re\\bin\\unpack200.exe", "C:\\t\\a b.jar.pack", "C:\\t\\a b.jar.part"),
            "\"C:\\j re\\bin\\unpack200.exe\" \"C:\\t\\a b.jar.pack\" \"C:\\t\\a b.jar.part\"");
}

namespace {

// The untar and the unpack200 processes played against a set of paths: the plan decides, the
// runs end in an order drawn from a seed, and each unpack does what unpack200 -r does (the
// ".pack" goes, the archive appears) or, when corrupt, leaves nothing (the launcher removes the
// partial output).
struct Recorder : UnpackPlanOutput {
  std::vector<std::string> lines;
  void homeStarted(const std::string& home) override { lines.push_back("started " + home); }
  void homeDone(const std::string& home) override { lines.push_back("done " + home); }
  void packMissing(const std::string& pack) override { lines.push_back("missing " + pack); }
};

const std::string kRoot = "C:\\t\\jre";

struct Outcome {
  std::set<std::string> tree;
  bool failed = false;
  std::vector<std::string> lines;
};

std::vector<std::string> homesOf(bool kit) {
  return kit ? std::vector<std::string>{kRoot, kRoot + "\\jre"} : std::vector<std::string>{kRoot};
}

// What unpacking one archive after another once the untar has ended gives.
Outcome sequential(const std::vector<std::string>& entries, const std::set<std::string>& corrupt, bool kit) {
  Outcome out;
  out.tree.insert(entries.begin(), entries.end());
  for (const std::string& home : homesOf(kit)) {
    if (out.failed) break;
    if (!out.tree.count(home + "\\lib\\rt.jar.pack") || out.tree.count(home + "\\lib\\jsse.jar")) continue;
    out.lines.push_back("started " + home);
    for (const char* archive : kPackedArchives) {
      std::string target = home + "\\" + archive;
      if (!out.tree.count(target + ".pack")) {
        out.lines.push_back("missing " + target + ".pack");
        continue;
      }
      if (corrupt.count(target + ".pack")) {
        out.failed = true;
        break;
      }
      out.tree.erase(target + ".pack");
      out.tree.insert(target);
    }
    if (!out.failed) out.lines.push_back("done " + home);
  }
  return out;
}

const std::string kIncluded = "C:\\t\\user.jar.pack";

// The same with the plan: up to maxRunning runs at once, started while the untar goes on; with
// an included file, written before the untar, for the first home's unpack200.exe.
Outcome parallel(const std::vector<std::string>& entries, const std::set<std::string>& corrupt, bool kit,
                 unsigned maxRunning, unsigned seed, bool included) {
  Recorder recorder;
  UnpackPlan plan(maxRunning, recorder);
  for (const std::string& home : homesOf(kit)) plan.addRuntimeHome(home);
  std::mt19937 random(seed);
  Outcome out;
  if (included) {
    plan.addIncluded(0, kIncluded);
    plan.written(kIncluded);
    out.tree.insert(kIncluded);
  }
  std::vector<std::size_t> running;
  bool sawFailure = false;
  bool writingDone = false;
  auto startAll = [&] {
    while (std::optional<std::size_t> job = plan.next()) {
      EXPECT_FALSE(sawFailure) << "started after a failure";
      const UnpackJob& started = plan.job(*job);
      EXPECT_TRUE(out.tree.count(started.packPath)) << started.packPath;
      std::string bin = started.program.substr(0, started.program.rfind('\\') + 1);
      for (const std::string& entry : entries) {
        EXPECT_TRUE(writingDone || entry.rfind(bin, 0) != 0 || out.tree.count(entry)) << "started before " << entry;
      }
      if (started.marker) {
        for (std::size_t i = 0; i < plan.jobCount(); ++i) {
          const UnpackJob& other = plan.job(i);
          if (i == *job || other.included || other.home != started.home) continue;
          EXPECT_TRUE(other.state == UnpackJobState::Succeeded || other.state == UnpackJobState::Skipped)
              << "the marker archive started before " << other.packPath;
        }
      }
      running.push_back(*job);
      auto runtimeArchives = std::count_if(running.begin(), running.end(),
                                           [&](std::size_t j) { return !plan.job(j).included; });
      EXPECT_LE(running.size(), maxRunning);
      EXPECT_LE(runtimeArchives, writingDone ? maxRunning : std::max(1u, maxRunning - 1)) << "the untar's processor";
      EXPECT_LE(running.size(), writingDone ? maxRunning : std::max(1u, maxRunning - 1) + 1) << "one filling in";
    }
  };
  auto endOne = [&](std::size_t slot) {
    std::size_t job = running[slot];
    running.erase(running.begin() + static_cast<std::ptrdiff_t>(slot));
    const UnpackJob& ended = plan.job(job);
    bool ok = !corrupt.count(ended.packPath);
    if (ok) {
      out.tree.erase(ended.packPath);
      out.tree.insert(ended.target);
    }
    plan.ended(job, ok);
    if (plan.failed()) {
      sawFailure = true;
      // The launcher ends what still runs; nothing of theirs stays.
      for (std::size_t other : running) plan.ended(other, false);
      running.clear();
    }
  };
  for (const std::string& entry : entries) {
    if (!plan.mayWrite(entry)) {
      out.failed = true;
      out.lines.push_back("refused " + entry);
      return out;
    }
    out.tree.insert(entry);
    plan.written(entry);
    startAll();
    while (!running.empty() && random() % 2 == 0) {
      endOne(random() % running.size());
      startAll();
    }
  }
  plan.writingEnded();
  writingDone = true;
  startAll();
  while (!running.empty()) {
    endOne(random() % running.size());
    startAll();
  }
  EXPECT_TRUE(plan.finished());
  out.failed = plan.failed();
  out.lines = recorder.lines;
  return out;
}

// A runtime tree as the packaging tool writes it: names sorted, each directory before its contents.
std::vector<std::string> packedTree(const std::string& home, const std::set<std::string>& without = {},
                                    const std::vector<std::string>& extra = {}) {
  std::vector<std::string> names = {"bin", "bin\\java.exe", "bin\\unpack200.exe", "lib", "lib\\charsets.jar.pack",
                                    "lib\\deploy.jar.pack", "lib\\ext", "lib\\ext\\localedata.jar.pack",
                                    "lib\\fonts", "lib\\fonts\\a.ttf", "lib\\jsse.jar.pack", "lib\\plugin.jar.pack",
                                    "lib\\rt.jar.pack", "lib\\zi", "lib\\zi\\UTC"};
  names.insert(names.end(), extra.begin(), extra.end());
  std::vector<std::string> paths;
  for (const std::string& name : names) {
    if (!without.count(name)) paths.push_back(home + "\\" + name);
  }
  return paths;
}

struct PlanCase {
  const char* name;
  std::vector<std::string> entries;
  std::set<std::string> corrupt;
  bool kit;
};

std::vector<PlanCase> planCases() {
  std::string lib = kRoot + "\\lib\\";
  std::vector<std::string> kit = {kRoot, kRoot + "\\bin", kRoot + "\\bin\\java.exe", kRoot + "\\jre"};
  for (const std::string& path : packedTree(kRoot + "\\jre")) kit.push_back(path);
  std::vector<std::string> packFirst = packedTree(kRoot);
  std::rotate(packFirst.begin() + 4, packFirst.begin() + 12, packFirst.begin() + 13);  // rt.jar.pack early
  std::vector<std::string> programLast = packedTree(kRoot, {"bin\\unpack200.exe"}, {"bin\\unpack200.exe"});
  std::vector<std::string> unpacked = packedTree(kRoot);
  unpacked.insert(unpacked.begin() + 10, kRoot + "\\lib\\jsse.jar");
  return {
      {"sorted tree", packedTree(kRoot), {}, false},
      {"pack200 list first", packFirst, {}, false},
      {"unpack200.exe written last", programLast, {}, false},
      {"development kit", kit, {}, true},
      {"archive missing from the list", packedTree(kRoot, {"lib\\charsets.jar.pack"}), {}, false},
      {"not packed: the marker is there", unpacked, {}, false},
      {"not packed: no rt.jar.pack", packedTree(kRoot, {"lib\\rt.jar.pack"}), {}, false},
      {"corrupt archive in the middle", packedTree(kRoot), {lib + "charsets.jar.pack"}, false},
      {"corrupt archive at the end", packedTree(kRoot), {lib + "jsse.jar.pack"}, false},
      {"corrupt first archive", packedTree(kRoot), {lib + "rt.jar.pack"}, false},
      {"corrupt archive of the embedded runtime", kit, {kRoot + "\\jre\\lib\\plugin.jar.pack"}, true},
  };
}

}  // namespace

TEST(UnpackPlan, OutcomeEqualsUnpackingOneAfterAnotherInEveryEndOrder) {
  for (const PlanCase& c : planCases()) {
    Outcome expected = sequential(c.entries, c.corrupt, c.kit);
    // An included file waits for the first home's unpack200.exe, and is left to the caller without it.
    bool program = std::count(c.entries.begin(), c.entries.end(), kRoot + "\\bin\\unpack200.exe") > 0;
    Outcome withIncluded = expected;
    withIncluded.tree.insert(program ? unpackTargetPath(kIncluded) : kIncluded);
    for (unsigned maxRunning : {1u, 2u, 4u}) {
      for (unsigned seed = 0; seed < 32; ++seed) {
        bool included = seed % 2 == 1;
        Outcome got = parallel(c.entries, c.corrupt, c.kit, maxRunning, seed, included);
        SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(maxRunning) + " at once, seed " +
                     std::to_string(seed));
        EXPECT_EQ(got.failed, expected.failed);
        for (const std::string& home : homesOf(c.kit)) {
          EXPECT_FALSE(got.failed && got.tree.count(home + "\\lib\\jsse.jar")) << "marked prepared";
        }
        for (const std::string& pack : c.corrupt) {
          EXPECT_FALSE(got.tree.count(unpackTargetPath(pack))) << "partial output left";
          EXPECT_TRUE(got.tree.count(pack));
        }
        if (!expected.failed) {
          EXPECT_EQ(got.tree, included ? withIncluded.tree : expected.tree);
          EXPECT_EQ(got.lines, expected.lines);
        }
      }
    }
  }
}

TEST(UnpackPlan, AnArchiveThatRewritesWhatIsBeingUnpackedIsRefused) {
  Recorder recorder;
  // Three processors: one is the untar's while it goes on.
  UnpackPlan plan(3, recorder);
  plan.addRuntimeHome(kRoot);
  for (const char* name : {"\\lib\\rt.jar.pack", "\\bin\\unpack200.exe", "\\bin\\msvcr71.dll"}) {
    EXPECT_TRUE(plan.mayWrite(kRoot + name));
    plan.written(kRoot + name);
    EXPECT_FALSE(plan.next()) << "before the untar has left bin";
  }
  plan.written(kRoot + "\\lib\\charsets.jar.pack");
  // Written before its run starts, a target is simply replaced by the run.
  EXPECT_TRUE(plan.mayWrite(kRoot + "\\lib\\rt.jar"));
  ASSERT_EQ(plan.next(), std::optional<std::size_t>(0));
  ASSERT_EQ(plan.next(), std::optional<std::size_t>(1));
  EXPECT_FALSE(plan.next()) << "two at once";
  // The unpacked marker after the list: the one-after-another order would not have unpacked
  // anything, but two archives are already being unpacked.
  for (const char* name : {"\\LIB\\RT.JAR", "\\lib\\rt.jar.pack", "\\lib\\charsets.jar", "\\lib\\jsse.jar",
                           "\\bin\\unpack200.exe"}) {
    EXPECT_FALSE(plan.mayWrite(kRoot + name)) << name;
  }
  EXPECT_TRUE(plan.mayWrite(kRoot + "\\lib\\plugin.jar.pack"));
  plan.ended(0, true);
  plan.writingEnded();
  EXPECT_FALSE(plan.next());
  EXPECT_FALSE(plan.finished());
  plan.ended(1, true);
  EXPECT_TRUE(plan.finished());
  EXPECT_FALSE(plan.failed());
  std::string lib = kRoot + "\\lib\\";
  EXPECT_EQ(recorder.lines, (std::vector<std::string>{"started " + kRoot, "missing " + lib + "plugin.jar.pack",
                                                       "missing " + lib + "deploy.jar.pack",
                                                       "missing " + lib + "ext\\localedata.jar.pack",
                                                       "missing " + lib + "jsse.jar.pack", "done " + kRoot}));
}

TEST(UnpackPlan, IncludedFilesRunSideBySideAndAFailureStopsNoOther) {
  Recorder recorder;
  UnpackPlan plan(2, recorder);
  for (const char* name : {"a.jar.pack", "b.jar.pack", "c.jar.pack", "gone.jar.pack"}) {
    plan.addIncluded("C:\\j\\bin\\unpack200.exe", std::string("C:\\t\\") + name);
  }
  for (const char* name : {"a.jar.pack", "b.jar.pack", "c.jar.pack"}) plan.written(std::string("C:\\t\\") + name);
  plan.writingEnded();
  EXPECT_EQ(recorder.lines, std::vector<std::string>{"missing C:\\t\\gone.jar.pack"});
  ASSERT_EQ(plan.next(), std::optional<std::size_t>(0));
  ASSERT_EQ(plan.next(), std::optional<std::size_t>(1));
  EXPECT_EQ(plan.job(1).target, "C:\\t\\b.jar");
  plan.ended(0, false);
  EXPECT_FALSE(plan.failed());
  ASSERT_EQ(plan.next(), std::optional<std::size_t>(2));
  plan.ended(1, true);
  plan.ended(2, true);
  EXPECT_TRUE(plan.finished());
  EXPECT_EQ(plan.job(3).state, UnpackJobState::Skipped);
}

TEST(UnpackPlan, IncludedFilesWaitForTheCarriedRuntimeOrAreLeftToTheCaller) {
  std::string lib = kRoot + "\\lib\\";
  for (bool programCame : {true, false}) {
    SCOPED_TRACE(programCame ? "packed runtime" : "no program, not packed");
    Recorder recorder;
    UnpackPlan plan(2, recorder);
    plan.addRuntimeHome(kRoot);
    plan.addIncluded(0, "C:\\t\\a.jar.pack");
    plan.addIncluded(0, "C:\\t\\b.jar.pack");
    std::size_t a = plan.jobCount() - 2, b = plan.jobCount() - 1;
    plan.written("C:\\t\\a.jar.pack");
    plan.written("C:\\t\\b.jar.pack");
    std::vector<std::string> tree = {kRoot + "\\bin", kRoot + "\\lib"};
    if (programCame) tree = {kRoot + "\\bin", kRoot + "\\bin\\unpack200.exe", kRoot + "\\lib"};
    for (const std::string& path : tree) {
      EXPECT_FALSE(plan.next()) << "before " << path;
      plan.written(path);
    }
    if (programCame) {
      ASSERT_EQ(plan.next(), std::optional<std::size_t>(a)) << "fills the processor no archive is ready for";
      EXPECT_EQ(plan.job(a).program, kRoot + "\\bin\\unpack200.exe");
      EXPECT_EQ(plan.job(a).target, "C:\\t\\a.jar");
      EXPECT_FALSE(plan.mayWrite(kRoot + "\\BIN\\unpack200.exe")) << "the program of a running unpack";
      EXPECT_FALSE(plan.next()) << "one at a time while the runtime's archives wait";
      plan.written(lib + "rt.jar.pack");
      ASSERT_EQ(plan.next(), std::optional<std::size_t>(0)) << "rt.jar does not wait for it";
      EXPECT_FALSE(plan.next()) << "the rest of the list may still come";
      plan.ended(a, false);
      EXPECT_FALSE(plan.failed()) << "an included file stops nothing";
      EXPECT_FALSE(plan.next()) << "the untar's processor";
      plan.ended(0, true);
    }
    plan.writingEnded();
    std::optional<std::size_t> last = plan.next();
    ASSERT_EQ(last, programCame ? std::optional<std::size_t>(b) : std::nullopt);
    if (last) plan.ended(b, true);
    EXPECT_TRUE(plan.finished());
    EXPECT_EQ(plan.job(b).state, programCame ? UnpackJobState::Succeeded : UnpackJobState::Dropped);
    EXPECT_EQ(recorder.lines.empty(), !programCame);
  }
}
