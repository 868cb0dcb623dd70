// The device lock: one host at a time calls the library on a device.
//
// The library's vCard conversions share one scratch file and contacts are
// read by position, so two hosts calling it at once on one device corrupt
// contacts. Every host therefore holds an exclusive flock on DIR/device.lock
// around its library calls. The lock ends with the process that holds it, so
// a host that was killed never blocks the next one.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace mzhost {

class DeviceLock {
 public:
  // The lock of the device folder `dir`; `holder` describes this process to
  // hosts that have to wait ("mzhost contacts import big.vcf"). Waits at most
  // `wait` for the lock, without bound when it is nullopt.
  DeviceLock(std::string dir, std::string holder, std::optional<std::chrono::seconds> wait);
  ~DeviceLock();
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

  // Creates the folder and the lock file when missing, takes the lock and
  // writes "PID HOLDER\nGENERATION\n" into the file, the generation one more
  // than the file held. When another process holds it,
  // prints once on stderr for whom it waits. Throws Failure when the lock
  // file cannot be opened or the wait bound passed, Interrupted on Ctrl-C.
  // A path the platform refuses as a device (a file, or a folder that holds
  // other files but no device.db) is left untouched and no lock is taken.
  void Acquire();
  // Takes the lock again after Release, for a last library call: false,
  // without throwing, when the wait bound passes or a new interrupt comes.
  bool Reacquire();
  // Leaves only the generation in the file and releases the lock; the
  // descriptor is close-on-exec, so child processes never inherit it.
  void Release();
  bool held() const { return held_; }
  // The generation of this host's latest take of the lock; 0 before the
  // first. Another host took the lock in between when a take's generation is
  // not one more than the take before.
  uint64_t generation() const { return generation_; }

 private:
  enum class Outcome { kTaken, kTimedOut, kInterrupted, kFailed };
  Outcome Take(unsigned interruptsBefore);
  std::string Holder() const;
  void WriteLines(const std::string& holder);

  std::string dir_;
  std::string path_;
  std::string holder_;
  std::optional<std::chrono::seconds> wait_;
  int fd_ = -1;
  bool held_ = false;
  bool announced_ = false;
  uint64_t generation_ = 0;
};

}  // namespace mzhost
