#include "base/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/errors.h"
#include "base/run_lock.h"

namespace tollbook {

std::string SystemErrorText(int error_number) { return std::strerror(error_number); }

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) {
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }
  std::error_code ec;
  const auto ca = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ec), ec);
  const auto cb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, ec), ec);
  return ca == cb;
}

void SyncParentDirectory(const std::string& path) {
  const auto slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw FileError("cannot open", dir, errno);
  int rc = ::fsync(fd);
  int error = errno;
  ::close(fd);
  if (rc != 0 && error != EINVAL) throw FileError("cannot sync", dir, error);
}

void SyncFileSystemOf(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw FileError("cannot open", folder, errno);
  int rc = ::syncfs(fd);
  int error = errno;
  ::close(fd);
  if (rc != 0) throw FileError("cannot sync", folder, error);
}

void CheckStillInPlace(const std::string& path, int fd) {
  struct stat open {}, named {};
  if (::fstat(fd, &open) != 0) throw FileError("cannot check", path, errno);
  if (::stat(path.c_str(), &named) != 0 || open.st_dev != named.st_dev ||
      open.st_ino != named.st_ino) {
    throw Failure(path + " was removed or replaced during the run");
  }
}

void CheckFolderTakesNewFiles(const std::string& folder) {
  std::string name = folder;
  if (name.empty() || name.back() != '/') name += '/';
  name += ".tollbook-probe-XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) throw FileError("cannot create a file in", folder, errno);
  ::close(fd);
  if (::unlink(name.c_str()) != 0) throw FileError("cannot delete", name, errno);
}

void CheckWritableUnchanged(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    ::close(fd);
    return;
  }
  if (errno != ENOENT) throw FileError("cannot open", path + " for writing", errno);
  if (::faccessat(AT_FDCWD, ParentFolder(path).c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    throw FileError("cannot create", path, errno);
  }
}

void RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) throw FileError("cannot delete", path, errno);
}

}  // namespace tollbook
