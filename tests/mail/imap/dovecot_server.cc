#include "mail/imap/dovecot_server.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace tollbook::testing {
namespace {

// base64url without padding, as JWTs have it.
std::string Base64Url(const std::string& data) {
  const gnutls_datum_t in{reinterpret_cast<unsigned char*>(const_cast<char*>(data.data())),
                          static_cast<unsigned>(data.size())};
  gnutls_datum_t out{};
  if (gnutls_base64_encode2(&in, &out) != GNUTLS_E_SUCCESS)
    throw std::runtime_error("base64 failed");
  std::string text(reinterpret_cast<char*>(out.data), out.size);
  gnutls_free(out.data);
  while (!text.empty() && text.back() == '=') text.pop_back();
  for (char& c : text) c = c == '+' ? '-' : c == '/' ? '_' : c;
  return text;
}

}  // namespace

bool DovecotServer::Available() {
  for (const char* path : {"/usr/sbin/dovecot", "/usr/local/sbin/dovecot"}) {
    if (::access(path, X_OK) == 0) return true;
  }
  return std::system("command -v dovecot >/dev/null 2>&1") == 0;
}

DovecotServer::DovecotServer(std::vector<std::string> users, bool oauth) {
  std::string arguments = "start " + ShellQuoted(dir_.Path()) + (oauth ? " --oauth" : "");
  for (const auto& user : users) arguments += " " + ShellQuoted(user);
  // The ports are the last line; a warning may come before it.
  const std::string output = RunProjectScript("test-dovecot", arguments);
  std::istringstream lines(output);
  bool found = false;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream ports(line);
    int imap = 0, imaps = 0;
    std::string rest;
    if (ports >> imap >> imaps && !(ports >> rest)) {
      imapPort_ = imap;
      imapsPort_ = imaps;
      found = true;
    }
  }
  if (!found) throw std::runtime_error("test-dovecot printed no ports: " + output);
  running_ = true;
}

DovecotServer::~DovecotServer() {
  try {
    Stop();
  } catch (const std::exception&) {
    // Stopping is best effort at the end of a test.
  }
}

void DovecotServer::Stop() {
  if (!running_) return;
  running_ = false;
  RunProjectScript("test-dovecot", "stop " + ShellQuoted(dir_.Path()));
}

std::string DovecotServer::BearerToken(const std::string& user, std::int64_t expires, bool wrongKey,
                                       std::size_t padding) const {
  std::string key = "not the server's key";
  if (!wrongKey) {
    const std::string encoded = ReadFile(dir_ / "keys/default/HS256/default");
    const gnutls_datum_t in{reinterpret_cast<unsigned char*>(const_cast<char*>(encoded.data())),
                            static_cast<unsigned>(encoded.size())};
    gnutls_datum_t out{};
    if (gnutls_base64_decode2(&in, &out) != GNUTLS_E_SUCCESS) {
      throw std::runtime_error("the server's OAuth key is not base64: " + encoded);
    }
    key.assign(reinterpret_cast<char*>(out.data), out.size);
    gnutls_free(out.data);
  }
  const std::string signedPart =
      Base64Url(R"({"alg":"HS256","typ":"JWT"})") + "." +
      Base64Url(R"({"sub":")" + user + R"(","email":")" + user + R"(","exp":)" +
                std::to_string(expires) + R"(,"pad":")" + std::string(padding, 'x') + "\"}");
  unsigned char digest[32];
  if (gnutls_hmac_fast(GNUTLS_MAC_SHA256, key.data(), key.size(), signedPart.data(),
                       signedPart.size(), digest) != GNUTLS_E_SUCCESS) {
    throw std::runtime_error("HMAC-SHA256 failed");
  }
  return signedPart + "." + Base64Url(std::string(reinterpret_cast<char*>(digest), sizeof digest));
}

void DovecotServer::Fill(const std::string& user, const std::string& maildir) {
  RunProjectScript("test-dovecot", "fill " + ShellQuoted(dir_.Path()) + " " + ShellQuoted(user) +
                                       " " + ShellQuoted(maildir));
}

}  // namespace tollbook::testing
