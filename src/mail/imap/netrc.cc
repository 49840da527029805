#include "mail/imap/netrc.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "mail/mail_source.h"

namespace tollbook::mail {
namespace {

struct Token {
  std::string text;
  int line;
};

// Splits the file into blank-separated tokens; "double quoted" tokens may hold
// blanks and backslash escapes. The body of a macdef (up to the next empty
// line) is skipped.
std::vector<Token> Tokenise(const std::string& text) {
  std::vector<Token> tokens;
  int line = 1;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const char c = text[i];
    if (c == '\n') {
      ++line;
      ++i;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r' || c == ',') {
      ++i;
      continue;
    }
    if (c == '#') {  // a comment runs to the end of the line
      while (i < n && text[i] != '\n') ++i;
      continue;
    }
    Token token{"", line};
    if (c == '"') {
      ++i;
      while (i < n && text[i] != '"') {
        if (text[i] == '\\' && i + 1 < n) ++i;
        if (text[i] == '\n') ++line;
        token.text += text[i++];
      }
      if (i >= n) throw LoginError("unterminated quoted text");
      ++i;
    } else {
      while (i < n && text[i] != ' ' && text[i] != '\t' && text[i] != '\n' && text[i] != '\r') {
        token.text += text[i++];
      }
    }
    if (token.text == "macdef") {
      // Skip the macro's name and body: everything up to an empty line.
      while (i < n) {
        if (text[i] == '\n') {
          ++line;
          ++i;
          if (i < n && (text[i] == '\n' || (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n'))) {
            break;
          }
          continue;
        }
        ++i;
      }
      continue;
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

}  // namespace

std::string DefaultNetrcPath() {
  const char* netrc = std::getenv("NETRC");
  if (netrc != nullptr && *netrc != '\0') return netrc;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.netrc";
}

std::optional<NetrcEntry> LookupNetrc(const std::string& path, const std::string& host,
                                      const std::string& user) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) return std::nullopt;
    throw LoginError("cannot read " + path + ": " + std::strerror(errno));
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw LoginError("cannot read " + path + ": " + std::strerror(errno));

  std::vector<Token> tokens;
  try {
    tokens = Tokenise(text);
  } catch (const LoginError& e) {
    throw LoginError(path + ": " + e.what());
  }

  struct stat st {};
  const bool othersCanRead = ::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;

  // Entries: "machine NAME" or "default", followed by login/password/account pairs.
  std::optional<NetrcEntry> fallback;
  for (std::size_t i = 0; i < tokens.size();) {
    const Token& keyword = tokens[i];
    bool isDefault = false;
    std::string machine;
    if (keyword.text == "default") {
      isDefault = true;
      ++i;
    } else if (keyword.text == "machine") {
      if (i + 1 >= tokens.size()) {
        throw LoginError(path + ", line " + std::to_string(keyword.line) + ": machine without a name");
      }
      machine = tokens[i + 1].text;
      i += 2;
    } else {
      throw LoginError(path + ", line " + std::to_string(keyword.line) + ": unexpected \"" +
                       keyword.text + "\" (expected machine or default)");
    }
    NetrcEntry entry;
    entry.othersCanRead = othersCanRead;
    bool hasLogin = false;
    while (i < tokens.size() && tokens[i].text != "machine" && tokens[i].text != "default") {
      const Token& field = tokens[i];
      if (field.text != "login" && field.text != "password" && field.text != "account") {
        throw LoginError(path + ", line " + std::to_string(field.line) + ": unknown keyword \"" +
                         field.text + "\"");
      }
      if (i + 1 >= tokens.size()) {
        throw LoginError(path + ", line " + std::to_string(field.line) + ": " + field.text +
                         " without a value");
      }
      if (field.text == "login") {
        entry.login = tokens[i + 1].text;
        hasLogin = true;
      } else if (field.text == "password") {
        entry.password = tokens[i + 1].text;
      }
      i += 2;
    }
    const bool userMatches = user.empty() || !hasLogin || entry.login == user;
    if (!userMatches) continue;
    if (isDefault) {
      if (!fallback) fallback = entry;
    } else if (machine == host) {
      return entry;
    }
  }
  return fallback;
}

}  // namespace tollbook::mail
