// Looks up log-in names and passwords in a netrc file, the way curl and
// fetchmail read ~/.netrc.
#pragma once

#include <optional>
#include <string>

namespace tollbook::mail {

struct NetrcEntry {
  std::string login;
  std::string password;
  bool othersCanRead = false;  // the file's mode lets its group or everyone read it
};

// The entry for host in the netrc file at path: the first "machine host" entry
// whose login is user (any login when user is empty), else the "default" entry.
// nullopt when the file does not exist or holds no matching entry. Throws
// LoginError when the file exists but cannot be read, or is malformed (the
// message names the file and the line, never a password).
std::optional<NetrcEntry> LookupNetrc(const std::string& path, const std::string& host,
                                      const std::string& user);

// ~/.netrc, or $NETRC when set.
std::string DefaultNetrcPath();

}  // namespace tollbook::mail
