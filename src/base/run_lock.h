// One run at a time per output place: an exclusive flock on every folder that
// holds a file the run writes. The kernel drops the locks when the process
// ends however it ends, so a killed run never blocks the next one.
#pragma once

#include <string>
#include <vector>

namespace tollbook {

// The name of the lock file a run keeps in each folder it writes into. It
// holds the pid of the run that has the lock; it is never removed (removing a
// lock file races with the next run opening it).
inline constexpr const char* kRunLockFileName = ".tollbook.lock";

// A path the run will write and the folder that holds it.
struct LockTarget {
  std::string path;    // named in the refusal
  std::string folder;  // the folder locked
};

class RunLock {
 public:
  RunLock() = default;
  // Locks the folder of every target, in the order of the folders' device
  // and inode numbers, without waiting; a folder named twice (under any
  // spelling) is locked once, and a folder that does not exist is skipped
  // (nothing can be written there), and so is the folder of a path that is
  // neither a file nor a folder (/dev/null). Each folder gets a flock on the folder
  // itself and one on its lock file (written with this process's pid) where
  // the file can be created; either one held by another process refuses.
  // Throws Failure "another run (pid N) is writing to PATH", or FileError
  // when a folder can be locked neither way. Locks taken before a refusal are
  // released.
  explicit RunLock(const std::vector<LockTarget>& targets);
  ~RunLock();
  RunLock(RunLock&& other) noexcept;
  RunLock& operator=(RunLock&& other) noexcept;
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Releases every lock now.
  void Release();

 private:
  std::vector<int> fds_;
};

// The folder that holds path: the text before its last "/", "/" for a file
// at the root, "." for a bare name.
std::string ParentFolder(const std::string& path);

}  // namespace tollbook
