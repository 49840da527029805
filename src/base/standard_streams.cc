#include "base/standard_streams.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <streambuf>

namespace tollbook {
namespace {

int firstWriteError = 0;  // errno of the first write to standard output that failed

// The write function of the stdout stream: all of it to descriptor 1, or 0
// (a failure, for stdio) with the cause kept.
ssize_t WriteStandardOutput(void*, const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(STDOUT_FILENO, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (firstWriteError == 0) firstWriteError = n < 0 ? errno : EIO;
      return 0;
    }
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(size);
}

// std::cout's buffer: everything goes to the stdout stream, in order with
// what printf writes there.
class StandardOutputBuffer : public std::streambuf {
 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    return std::fputc(c, stdout) == EOF ? traits_type::eof() : c;
  }
  std::streamsize xsputn(const char* data, std::streamsize size) override {
    return static_cast<std::streamsize>(
        std::fwrite(data, 1, static_cast<std::size_t>(size), stdout));
  }
  int sync() override { return std::fflush(stdout) == 0 ? 0 : -1; }
};

void ReserveClosedDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", O_RDONLY);  // the lowest free descriptor: fd
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

}  // namespace

void GuardStandardStreams() {
  ReserveClosedDescriptors();
  FILE* stream = ::fopencookie(nullptr, "w", {nullptr, WriteStandardOutput, nullptr, nullptr});
  if (stream == nullptr) return;  // stdout as it was: write errors are still seen, not their cause
  std::setvbuf(stream, nullptr, ::isatty(STDOUT_FILENO) == 1 ? _IOLBF : _IOFBF, BUFSIZ);
  std::fflush(stdout);
  stdout = stream;
  static auto* const buffer = new StandardOutputBuffer;  // for the life of the process
  std::cout.rdbuf(buffer);
}

int FinishStandardStreams(std::string_view program, int status) {
  std::cout.flush();
  errno = 0;
  bool failed = std::fflush(stdout) != 0;
  int cause = errno;
  failed = failed || std::ferror(stdout) != 0 || std::cout.bad();
  // A file system that reports a write error only when a descriptor is
  // closed (NFS) reports it here, without closing standard output itself.
  if (!failed) {
    const int copy = ::dup(STDOUT_FILENO);
    if (copy >= 0 && ::close(copy) != 0 && errno != EINTR) {
      failed = true;
      cause = errno;
    }
  }
  if (firstWriteError != 0) cause = firstWriteError;
  if (failed) {
    if (cause == EPIPE && status == 0) {
      std::fflush(stderr);
      ::signal(SIGPIPE, SIG_DFL);
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      ::sigprocmask(SIG_UNBLOCK, &pipe, nullptr);
      ::raise(SIGPIPE);
      return 128 + SIGPIPE;  // not reached
    }
    if (cause != EPIPE) {
      std::fprintf(stderr, "%.*s: write error%s%s\n", static_cast<int>(program.size()),
                   program.data(), cause != 0 ? ": " : "", cause != 0 ? std::strerror(cause) : "");
    }
    if (status == 0) status = 1;
  }
  if (std::fflush(stderr) != 0 || std::ferror(stderr) != 0) {
    if (status == 0) status = 1;
  }
  return status;
}

}  // namespace tollbook
