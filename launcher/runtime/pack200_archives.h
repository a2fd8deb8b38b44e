// A runtime whose large Java archives were shipped pack200-compressed: which archives, where
// each unpacks to, how unpack200 is told to do it, and when each may run while others run
// beside it and the untar may still be writing the runtime.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Relative to the runtime home, in unpacking order. Each is shipped as the name plus ".pack";
// "lib\jsse.jar" comes last, so its presence marks a finished preparation.
constexpr std::array<const char*, 6> kPackedArchives = {"lib\\rt.jar",   "lib\\charsets.jar",
                                                         "lib\\plugin.jar", "lib\\deploy.jar",
                                                         "lib\\ext\\localedata.jar", "lib\\jsse.jar"};

// The archive a ".pack" file unpacks to (the path without ".pack"); "" for any other name.
std::string unpackTargetPath(std::string_view packPath);

// Where unpack200 writes an archive until it has finished: the target only appears, renamed,
// once the run has succeeded, so a run ended half-way never leaves a partial archive under the
// name that counts.
std::string unpackPartPath(std::string_view target);

// unpack200's command line: its own path, the ".pack" file and the output, each path quoted.
// No -r: unpack200 removes the ".pack" before it has finished writing, so a run ended in that
// window would lose both; the launcher removes the ".pack" itself once the archive is in place.
std::string unpack200CommandLine(std::string_view program, std::string_view packPath, std::string_view output);

// What a plan reports on the way; the launcher logs it.
class UnpackPlanOutput {
 public:
  virtual ~UnpackPlanOutput() = default;
  // A runtime home is packed: its archives are about to be unpacked.
  virtual void homeStarted(const std::string& home) = 0;
  // Every archive of the home was unpacked or was not there to unpack.
  virtual void homeDone(const std::string& home) = 0;
  // An archive of the list, or an included file, that does not exist.
  virtual void packMissing(const std::string& packPath) = 0;
};

enum class UnpackJobState { Waiting, Running, Succeeded, Failed, Skipped, Dropped };

struct UnpackJob {
  std::string program;   // the unpack200.exe that unpacks it
  std::string packPath;  // absolute
  std::string target;
  std::size_t home = 0;  // index of its runtime home, unless included
  bool included = false;
  bool marker = false;   // the home's last archive: unpacked only once every other one is
  bool awaitsProgram = false;  // included, unpacked with the program of runtime home `home`
  bool filler = false;   // started while archives of its home still waited: not counted against them
  bool present = false;  // packPath has been written (or existed)
  UnpackJobState state = UnpackJobState::Waiting;
};

// Unpacking several archives at once with the outcome of unpacking them one after another once
// the untar has ended: the same archives for each runtime home (packed when "lib\rt.jar.pack"
// exists and "lib\jsse.jar" does not), the marker archive last, and the first failed archive of
// a runtime stopping the whole preparation. An included file's failure stops nothing.
// The plan only decides; the caller writes, starts processes and reports back. Case-insensitive
// ASCII comparison of paths, as Windows names them.
class UnpackPlan {
 public:
  UnpackPlan(unsigned maxRunning, UnpackPlanOutput& output);

  // A runtime home (absolute, without trailing separator) whose pack200 list is unpacked with
  // its own bin\unpack200.exe when it turns out packed; while the untar goes on, not before it
  // has written the program and gone on past the bin directory (written in one piece, as the
  // packaging tool does).
  void addRuntimeHome(const std::string& home);
  // An included ".pack" file, unpacked beside itself with program.
  void addIncluded(const std::string& program, const std::string& packPath);
  // An included ".pack" file, unpacked beside itself with the bin\unpack200.exe of a runtime home
  // added before, once the untar has written that program as the home's own archives need it,
  // whether or not the home turns out packed. Until every archive of the home's list but the
  // marker has started (or the untar has ended), one such file at a time fills a processor that
  // no archive of the home is ready for; the home's archives do not wait for it. When the untar
  // never wrote the program, the job ends Dropped: the caller unpacks the file some other way.
  void addIncluded(std::size_t home, const std::string& packPath);

  // The paths the plan depends on; for a tree that is already written, report those that exist.
  std::vector<std::string> watchedPaths() const;
  // False when writing path now would change what an archive that has started unpacking reads
  // or writes, or decide anew whether its home is packed: such an archive contradicts itself.
  bool mayWrite(std::string_view path) const;
  // path (a file, complete, or a directory) now exists.
  void written(std::string_view path);
  // Nothing more will be written: what has not been written does not exist.
  void writingEnded();

  // The next job to start now (it counts as running), or none: the limit is reached (while the
  // untar goes on it keeps a processor busy itself, so one fewer than maxRunning, at least one;
  // a runtime archive may go past it by the one included file that fills in, never past
  // maxRunning), nothing is ready yet, or the preparation has failed.
  std::optional<std::size_t> next();
  void ended(std::size_t job, bool succeeded);

  // Writing has ended, nothing runs and nothing more will start.
  bool finished() const;
  // An archive of a runtime failed: nothing more starts, and what runs should be ended.
  bool failed() const { return failed_; }
  std::size_t running() const { return running_; }
  std::size_t jobCount() const { return jobs_.size(); }
  const UnpackJob& job(std::size_t index) const { return jobs_[index]; }

 private:
  struct Home {
    std::string path;
    std::string packedSign;  // lower case: lib\rt.jar.pack
    std::string marker;      // lower case: lib\jsse.jar
    std::string program;     // lower case: bin\unpack200.exe
    std::string bin;         // lower case: bin\ .
    bool packedSignSeen = false;
    bool markerSeen = false;
    bool programSeen = false;
    // The untar has left bin after writing the program: the libraries unpack200.exe loads from
    // its own directory are there too.
    bool binWritten = false;
    bool started = false;    // decided packed: announced, and fixed from now on
    bool done = false;
  };
  bool packed(const Home& home) const { return home.started || (home.packedSignSeen && !home.markerSeen); }
  bool othersOfHomeDone(std::size_t job) const;
  // Some archive of the home's list, other than the marker, has not started yet.
  bool archivesOfHomeWaiting(std::size_t home) const;
  // An included file started while archives of its home still waited runs now.
  bool fillerRunning() const;
  void startHome(Home& home);
  void reportIfDone(std::size_t home);

  unsigned maxRunning_;
  UnpackPlanOutput& output_;
  std::vector<Home> homes_;
  std::vector<UnpackJob> jobs_;
  std::size_t running_ = 0;
  bool writingEnded_ = false;
  bool failed_ = false;
};
