#include "mail/imap/password_command.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "mail/mail_source.h"

extern char** environ;

namespace tollbook::mail {
namespace {

std::string Quoted(const std::string& command) {
  return "the password command \"" + command + "\"";
}

// Closes a descriptor once.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::string RunPasswordCommand(const std::string& command) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    throw LoginError("cannot run " + Quoted(command) + ": " + std::strerror(errno));
  }
  Descriptor readEnd{pipeFds[0]}, writeEnd{pipeFds[1]};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, STDOUT_FILENO);
  // The command gets SIGPIPE back, which tollbook-cli ignores for itself.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, "/bin/sh", &actions, &attributes,
                                    const_cast<char* const*>(argv), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0)
    throw LoginError("cannot run " + Quoted(command) + ": " + std::strerror(spawned));
  ::close(writeEnd.fd);
  writeEnd.fd = -1;

  // Reads everything, so the command never blocks on a full pipe.
  std::string output;
  char buffer[4096];
  int readError = 0;
  for (;;) {
    const ssize_t n = ::read(readEnd.fd, buffer, sizeof buffer);
    if (n > 0) {
      output.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) readError = errno;
    break;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR)
      throw LoginError("cannot wait for " + Quoted(command) + ": " + std::strerror(errno));
  }
  const auto end = output.find_first_of("\r\n");
  std::string password = output.substr(0, end);
  std::fill(output.begin(), output.end(), '\0');
  std::fill(std::begin(buffer), std::end(buffer), '\0');

  if (readError != 0) {
    throw LoginError("cannot read the output of " + Quoted(command) + ": " +
                     std::strerror(readError));
  }
  if (WIFSIGNALED(status)) {
    throw LoginError(Quoted(command) + " was killed by signal " + std::to_string(WTERMSIG(status)) +
                     " (" + ::strsignal(WTERMSIG(status)) + ")");
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    throw LoginError(Quoted(command) + " failed with exit status " +
                     std::to_string(WEXITSTATUS(status)));
  }
  if (password.empty()) {
    throw LoginError(Quoted(command) +
                     (end == 0 ? " printed an empty first line" : " printed nothing") +
                     "; it must print the password as its first line");
  }
  return password;
}

}  // namespace tollbook::mail
