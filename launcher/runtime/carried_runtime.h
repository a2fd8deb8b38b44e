// The runtime an installer carries as "jre.tar.gz": untarred, its pack200 archives unpacked, loaded.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/pack200_archives.h"

// Runs a plan's archives as unpack200 processes, as many at once as the plan allows. Each is
// waited for at most unpackTimeLimitMs, then ended; a failed or ended one leaves no output.
class Unpack200Processes {
 public:
  explicit Unpack200Processes(UnpackPlan& plan) : plan_(plan) {}
  // Ends what still runs.
  ~Unpack200Processes();
  Unpack200Processes(const Unpack200Processes&) = delete;
  Unpack200Processes& operator=(const Unpack200Processes&) = delete;

  // The untar's side: what it may write and what it has written.
  bool mayWrite(const std::string& path) const;
  void written(const std::string& path);
  // Collects the processes that have ended and starts what the plan allows; waits up to waitMs
  // for an end when some run.
  void advance(DWORD waitMs);
  // Writing has ended: runs the rest. False when an archive of a runtime failed.
  bool runToEnd();
  // Ends every running process and removes its output.
  void endAll();

 private:
  struct Child {
    std::size_t job;
    HANDLE process;
    DWORD started;
  };
  void startReady();
  void start(std::size_t job);
  void collect(std::size_t slot, bool overdue);

  UnpackPlan& plan_;
  std::vector<Child> children_;
  DWORD lastLook_ = 0;
};

// Moves the bar from 200 to 300 while the carried runtime's archives are unpacked.
DWORD WINAPI advancePackProgress(LPVOID progressWindow);

// An included ".pack" file: its configured name, as the log shows it, and its full path.
struct IncludedPack {
  std::string name;
  std::string path;
};

// Untars and prepares the carried "jre.tar.gz" of the extraction folder into its "jre"; returns
// only on success. With a packed runtime the included ".pack" files are unpacked on the way too,
// with its unpack200.exe: those are taken out of `included`, the rest is left to the caller.
void prepareCarriedRuntime(HWND progressWindow, const std::string& folder, std::vector<IncludedPack>& included);

// Writes the directories and regular files of a gzip-compressed tar archive below targetDir,
// moving the progress bar from 100 to 200 over totalSize uncompressed bytes. False when the
// archive is damaged or hostile; nothing of a refused entry is written. With unpacking, every
// path written is reported to it and its processes are looked after on the way.
bool untarGzArchive(const std::string& archivePath, const std::string& targetDir, HWND progressWindow,
                    uint64_t totalSize, Unpack200Processes* unpacking = nullptr);

// Unpacks a runtime whose large archives were shipped pack200-compressed; does nothing once
// "lib\jsse.jar" exists or when "lib\rt.jar.pack" does not. Stops at the first archive that
// fails, leaving "lib\jsse.jar" unwritten: false then.
bool prepareRuntime(const std::string& home);
// Unpacks "home\jarPath.pack" into "home\jarPath"; false when unpack200 failed.
bool unpackArchive(const std::string& home, const std::string& jarPath);
// Unpacks one ".pack" file beside itself with home's bin\unpack200.exe; false when it failed
// (it then leaves no output). A missing ".pack" file is no failure.
bool runUnpack200(const std::string& home, const std::string& packPath);
// Unpacks the included ".pack" files several at once with home's bin\unpack200.exe; one result
// each. A failure stops none of the others.
std::vector<bool> unpackIncludedFiles(const std::string& home, const std::vector<IncludedPack>& packs);

// How long one unpack200 may run: 10 minutes, or the milliseconds in PATHMERE_UNPACK_LIMIT_MS
// when tests set it.
DWORD unpackTimeLimitMs();
// unpack200 processes at once: one per processor, at most 4.
unsigned unpackProcessLimit();
