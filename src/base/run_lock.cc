#include "base/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <utility>

#include "base/errors.h"

namespace tollbook {
namespace {

struct Folder {
  dev_t device;
  ino_t inode;
  std::string folder;
  std::string path;
};

// Tries LOCK_EX | LOCK_NB: true when taken, false when another process holds
// it; other errors (a file system without flock on folders) are left to errno.
enum class Locked { kTaken, kHeld, kUnsupported };

Locked TryLock(int fd) {
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return Locked::kTaken;
  return errno == EWOULDBLOCK ? Locked::kHeld : Locked::kUnsupported;
}

// The pid the lock file of folder names, or the empty text.
std::string HolderOf(const std::string& lockPath) {
  const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return "";
  char text[32];
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return "";
  std::string pid(text, static_cast<std::size_t>(n));
  while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
  if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) return "";
  return pid;
}

[[noreturn]] void Refuse(const Folder& folder, const std::string& lockPath) {
  const std::string pid = HolderOf(lockPath);
  throw Failure("another run " + (pid.empty() ? std::string() : "(pid " + pid + ") ") +
                "is writing to " + folder.path);
}

void WritePid(int fd) {
  const std::string pid = std::to_string(::getpid()) + "\n";
  // The pid only names the holder in a refusal; a lock file that cannot take
  // it still locks.
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] ssize_t n = ::pwrite(fd, pid.data(), pid.size(), 0);
  }
}

}  // namespace

std::string ParentFolder(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

RunLock::RunLock(const std::vector<LockTarget>& targets) {
  std::vector<Folder> folders;
  for (const LockTarget& target : targets) {
    struct stat st {};
    if (::stat(target.path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
      continue;  // a device or a pipe: nothing there for two runs to spoil
    }
    if (::stat(target.folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    const bool known = std::any_of(folders.begin(), folders.end(), [&](const Folder& f) {
      return f.device == st.st_dev && f.inode == st.st_ino;
    });
    if (!known) folders.push_back({st.st_dev, st.st_ino, target.folder, target.path});
  }
  std::stable_sort(folders.begin(), folders.end(), [](const Folder& a, const Folder& b) {
    return std::pair(a.device, a.inode) < std::pair(b.device, b.inode);
  });

  try {
    for (const Folder& folder : folders) {
      const std::string lockPath =
          folder.folder + (folder.folder.back() == '/' ? "" : "/") + kRunLockFileName;
      bool locked = false;
      int error = 0;
      // The folder itself: works in any folder this process may read.
      const int dir = ::open(folder.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dir >= 0) {
        fds_.push_back(dir);
        const Locked result = TryLock(dir);
        if (result == Locked::kHeld) Refuse(folder, lockPath);
        locked = result == Locked::kTaken;
        if (!locked) error = errno;
      } else {
        error = errno;
      }
      // The lock file: carries the pid, and locks where folders cannot be
      // locked (network file systems).
      const int file = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
      if (file >= 0) {
        fds_.push_back(file);
        const Locked result = TryLock(file);
        if (result == Locked::kHeld) Refuse(folder, lockPath);
        if (result == Locked::kTaken) {
          locked = true;
          WritePid(file);
        } else {
          error = errno;
        }
      } else if (error == 0) {
        error = errno;
      }
      if (!locked) throw FileError("cannot lock", folder.folder, error);
    }
  } catch (...) {
    Release();
    throw;
  }
}

RunLock::~RunLock() { Release(); }

RunLock::RunLock(RunLock&& other) noexcept : fds_(std::exchange(other.fds_, {})) {}

RunLock& RunLock::operator=(RunLock&& other) noexcept {
  if (this != &other) {
    Release();
    fds_ = std::exchange(other.fds_, {});
  }
  return *this;
}

void RunLock::Release() {
  for (int fd : fds_) ::close(fd);
  fds_.clear();
}

}  // namespace tollbook
