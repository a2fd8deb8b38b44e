#include "runtime/pack200_archives.h"

#include <algorithm>

#include "base/path_text.h"

namespace {
constexpr std::string_view kPackSuffix = ".pack";

std::string quoted(std::string_view path) { return "\"" + std::string(path) + "\""; }

bool samePath(std::string_view a, std::string_view b) { return a.size() == b.size() && lowerAscii(a) == lowerAscii(b); }

bool started(const UnpackJob& job) {
  return job.state == UnpackJobState::Running || job.state == UnpackJobState::Succeeded ||
         job.state == UnpackJobState::Failed;
}
}  // namespace

std::string unpackTargetPath(std::string_view packPath) {
  if (packPath.size() <= kPackSuffix.size() ||
      packPath.compare(packPath.size() - kPackSuffix.size(), kPackSuffix.size(), kPackSuffix) != 0) {
    return "";
  }
  return std::string(packPath.substr(0, packPath.size() - kPackSuffix.size()));
}

std::string unpackPartPath(std::string_view target) { return std::string(target) + ".part"; }

std::string unpack200CommandLine(std::string_view program, std::string_view packPath, std::string_view output) {
  return quoted(program) + " " + quoted(packPath) + " " + quoted(output);
}

UnpackPlan::UnpackPlan(unsigned maxRunning, UnpackPlanOutput& output)
    : maxRunning_(std::max(1u, maxRunning)), output_(output) {}

void UnpackPlan::addRuntimeHome(const std::string& home) {
  Home entry;
  entry.path = home;
  entry.packedSign = lowerAscii(home + "\\lib\\rt.jar.pack");
  entry.marker = lowerAscii(home + "\\lib\\jsse.jar");
  entry.program = lowerAscii(home + "\\bin\\unpack200.exe");
  entry.bin = lowerAscii(home + "\\bin\\");
  homes_.push_back(entry);
  for (const char* archive : kPackedArchives) {
    UnpackJob job;
    job.program = home + "\\bin\\unpack200.exe";
    job.target = home + "\\" + archive;
    job.packPath = job.target + std::string(kPackSuffix);
    job.home = homes_.size() - 1;
    job.marker = archive == kPackedArchives.back();
    jobs_.push_back(job);
  }
}

void UnpackPlan::addIncluded(const std::string& program, const std::string& packPath) {
  UnpackJob job;
  job.program = program;
  job.packPath = packPath;
  job.target = unpackTargetPath(packPath);
  job.included = true;
  jobs_.push_back(job);
}

void UnpackPlan::addIncluded(std::size_t home, const std::string& packPath) {
  addIncluded(homes_[home].path + "\\bin\\unpack200.exe", packPath);
  jobs_.back().home = home;
  jobs_.back().awaitsProgram = true;
}

std::vector<std::string> UnpackPlan::watchedPaths() const {
  std::vector<std::string> paths;
  for (const Home& home : homes_) {
    paths.insert(paths.end(), {home.packedSign, home.marker, home.program});
  }
  for (const UnpackJob& job : jobs_) paths.push_back(job.packPath);
  return paths;
}

bool UnpackPlan::mayWrite(std::string_view path) const {
  for (const UnpackJob& job : jobs_) {
    if (started(job) && (samePath(path, job.packPath) || samePath(path, job.target) || samePath(path, job.program))) {
      return false;
    }
  }
  std::string lower = lowerAscii(path);
  for (const Home& home : homes_) {
    if (home.started && (lower == home.marker || lower == home.program || lower == home.packedSign)) return false;
  }
  return true;
}

void UnpackPlan::written(std::string_view path) {
  std::string lower = lowerAscii(path);
  for (Home& home : homes_) {
    if (lower == home.packedSign) home.packedSignSeen = true;
    if (lower == home.marker) home.markerSeen = true;
    if (home.programSeen && lower.compare(0, home.bin.size(), home.bin) != 0 && lower + "\\" != home.bin) {
      home.binWritten = true;
    }
    if (lower == home.program) home.programSeen = true;
  }
  for (UnpackJob& job : jobs_) {
    if (lower == lowerAscii(job.packPath)) job.present = true;
  }
}

void UnpackPlan::writingEnded() {
  writingEnded_ = true;
  for (std::size_t h = 0; h < homes_.size(); ++h) {
    bool packedHome = !failed_ && packed(homes_[h]);
    if (packedHome) startHome(homes_[h]);
    for (UnpackJob& job : jobs_) {
      if (job.included || job.home != h || job.state != UnpackJobState::Waiting) continue;
      if (!packedHome) {
        job.state = UnpackJobState::Dropped;
      } else if (!job.present) {
        job.state = UnpackJobState::Skipped;
        output_.packMissing(job.packPath);
      }
    }
    if (packedHome) reportIfDone(h);
  }
  for (UnpackJob& job : jobs_) {
    if (job.included && job.awaitsProgram && job.state == UnpackJobState::Waiting &&
        !homes_[job.home].programSeen) {
      job.state = UnpackJobState::Dropped;
    } else if (job.included && job.state == UnpackJobState::Waiting && !job.present) {
      job.state = UnpackJobState::Skipped;
      output_.packMissing(job.packPath);
    }
  }
}

std::optional<std::size_t> UnpackPlan::next() {
  // While the untar goes on it keeps a processor busy itself.
  std::size_t limit = writingEnded_ || maxRunning_ == 1 ? maxRunning_ : maxRunning_ - 1;
  if (failed_ || running_ >= maxRunning_) return std::nullopt;
  bool filling = fillerRunning();
  for (std::size_t i = 0; i < jobs_.size(); ++i) {
    UnpackJob& job = jobs_[i];
    if (job.state != UnpackJobState::Waiting || !job.present) continue;
    if (!job.included) {
      // Ready runtime archives come first in the list; an included file filling in does not
      // hold them back.
      if (running_ - (filling ? 1 : 0) >= limit) continue;
      Home& home = homes_[job.home];
      if (!packed(home) || (!home.binWritten && !writingEnded_)) continue;
      if (job.marker && !othersOfHomeDone(i)) continue;
      startHome(home);
    } else {
      if (running_ >= limit) continue;
      if (job.awaitsProgram) {
        const Home& home = homes_[job.home];
        if (!home.programSeen || (!home.binWritten && !writingEnded_)) continue;
        // The runtime's archives are the longer chain, and its marker waits for them: before
        // they have all started, only one included file at a time, on a processor they leave idle.
        if (!writingEnded_ && archivesOfHomeWaiting(job.home)) {
          if (filling) continue;
          job.filler = true;
        }
      }
    }
    job.state = UnpackJobState::Running;
    ++running_;
    return i;
  }
  return std::nullopt;
}

void UnpackPlan::ended(std::size_t index, bool succeeded) {
  UnpackJob& job = jobs_[index];
  if (job.state != UnpackJobState::Running) return;
  job.state = succeeded ? UnpackJobState::Succeeded : UnpackJobState::Failed;
  --running_;
  if (job.included) return;
  if (!succeeded) {
    failed_ = true;
    for (UnpackJob& other : jobs_) {
      if (!other.included && other.state == UnpackJobState::Waiting) other.state = UnpackJobState::Dropped;
    }
    return;
  }
  reportIfDone(job.home);
}

bool UnpackPlan::finished() const {
  if (!writingEnded_ || running_ > 0) return false;
  return failed_ || std::none_of(jobs_.begin(), jobs_.end(),
                                 [](const UnpackJob& job) { return job.state == UnpackJobState::Waiting; });
}

bool UnpackPlan::archivesOfHomeWaiting(std::size_t home) const {
  return std::any_of(jobs_.begin(), jobs_.end(), [&](const UnpackJob& job) {
    return !job.included && !job.marker && job.home == home && job.state == UnpackJobState::Waiting;
  });
}

bool UnpackPlan::fillerRunning() const {
  return std::any_of(jobs_.begin(), jobs_.end(),
                     [](const UnpackJob& job) { return job.filler && job.state == UnpackJobState::Running; });
}

bool UnpackPlan::othersOfHomeDone(std::size_t index) const {
  for (std::size_t i = 0; i < jobs_.size(); ++i) {
    const UnpackJob& other = jobs_[i];
    if (i == index || other.included || other.home != jobs_[index].home) continue;
    if (other.state != UnpackJobState::Succeeded && other.state != UnpackJobState::Skipped) return false;
  }
  return true;
}

void UnpackPlan::startHome(Home& home) {
  if (home.started) return;
  home.started = true;
  output_.homeStarted(home.path);
}

void UnpackPlan::reportIfDone(std::size_t index) {
  Home& home = homes_[index];
  if (home.done || !home.started) return;
  for (const UnpackJob& job : jobs_) {
    if (job.included || job.home != index) continue;
    if (job.state != UnpackJobState::Succeeded && job.state != UnpackJobState::Skipped) return;
  }
  home.done = true;
  output_.homeDone(home.path);
}
