// The password command: a shell command that prints the IMAP password, as
// mbsync's PassCmd (a keyring or password store client, "pass show mail").
#pragma once

#include <string>
#include <string_view>

namespace tollbook::mail {

// Runs command through /bin/sh -c, its standard input /dev/null and its
// standard error the program's, and returns the first line of its output
// (without the line end). The password travels through a pipe only: it is
// in no argument list or environment. Throws LoginError naming the command's
// failure (cannot start it, killed by a signal, a non-zero exit status, no
// output or an empty first line); the message never holds its output.
std::string RunPasswordCommand(const std::string& command);

}  // namespace tollbook::mail
