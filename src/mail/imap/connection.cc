#include "mail/imap/connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <cstdlib>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <vmime/net/imap/IMAPStore.hpp>
#include <vmime/security/cert/defaultCertificateVerifier.hpp>
#include <vmime/vmime.hpp>

#include "mail/imap/errors.h"
#include "mail/imap/response_limits.h"
#include "mail/mail_source.h"
#include "mail/vmime_init.h"

namespace tollbook::mail {
namespace {

using vmime::security::cert::X509Certificate;

// Gives up once the server has been silent for the whole time-out.
class BoundedTimeout : public vmime::net::timeoutHandler {
 public:
  explicit BoundedTimeout(int seconds) : limit_(seconds) { resetTimeOut(); }
  bool isTimeOut() override { return std::chrono::steady_clock::now() - start_ >= limit_; }
  void resetTimeOut() override { start_ = std::chrono::steady_clock::now(); }
  bool handleTimeOut() override { return false; }

 private:
  std::chrono::seconds limit_;
  std::chrono::steady_clock::time_point start_;
};

class BoundedTimeoutFactory : public vmime::net::timeoutHandlerFactory {
 public:
  explicit BoundedTimeoutFactory(int seconds) : seconds_(seconds) {}
  std::shared_ptr<vmime::net::timeoutHandler> create() override {
    return std::make_shared<BoundedTimeout>(seconds_);
  }

 private:
  int seconds_;
};

// Every certificate of a PEM bundle. A file that cannot be read is an error
// when required says so (a file the administrator named), else nothing.
std::vector<std::shared_ptr<X509Certificate>> LoadPemBundle(const std::string& path, bool required) {
  std::vector<std::shared_ptr<X509Certificate>> certificates;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (required) {
      throw LoginError("cannot read the certificate file " + path + " named in " +
                       std::string(kImapCaFileVariable));
    }
    return certificates;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  for (auto begin = text.find(kBegin); begin != std::string::npos; begin = text.find(kBegin, begin)) {
    const auto end = text.find(kEnd, begin);
    if (end == std::string::npos) break;
    const std::string block = text.substr(begin, end + kEnd.size() - begin) + "\n";
    begin = end + kEnd.size();
    try {
      auto certificate = X509Certificate::import(
          reinterpret_cast<const vmime::byte_t*>(block.data()), block.size());
      if (certificate) certificates.push_back(certificate);
    } catch (const vmime::exception&) {
      // A certificate the TLS library cannot read is simply not trusted.
    }
  }
  if (required && certificates.empty()) {
    throw LoginError("no certificate found in " + path + " named in " + std::string(kImapCaFileVariable));
  }
  return certificates;
}

std::shared_ptr<vmime::security::cert::defaultCertificateVerifier> MakeVerifier() {
  const char* systemFile = std::getenv("SSL_CERT_FILE");
  auto roots = LoadPemBundle(systemFile != nullptr && *systemFile != '\0'
                                 ? systemFile
                                 : "/etc/ssl/certs/ca-certificates.crt",
                             false);
  std::vector<std::shared_ptr<X509Certificate>> trusted;
  if (const char* extra = std::getenv(std::string(kImapCaFileVariable).c_str());
      extra != nullptr && *extra != '\0') {
    trusted = LoadPemBundle(extra, true);
    roots.insert(roots.end(), trusted.begin(), trusted.end());
  }
  auto verifier = std::make_shared<vmime::security::cert::defaultCertificateVerifier>();
  verifier->setX509RootCAs(roots);
  verifier->setX509TrustedCerts(trusted);
  return verifier;
}

// Why a TCP connection to host:port cannot be made, found by trying one:
// vmime reports a refused connection as a time-out. nullopt when it can be
// made (the failure was then a later one) or the cause is no clearer.
std::optional<std::string> ConnectFailureCause(const std::string& host, int port, int seconds) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return std::nullopt;
  int error = 0;
  for (addrinfo* address = found; address != nullptr; address = address->ai_next) {
    const int fd = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address->ai_protocol);
    if (fd < 0) continue;
    int rc = ::connect(fd, address->ai_addr, address->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      pollfd wait{fd, POLLOUT, 0};
      if (::poll(&wait, 1, seconds * 1000) == 1) {
        socklen_t length = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        rc = error == 0 ? 0 : -1;
      } else {
        error = ETIMEDOUT;
      }
    } else if (rc != 0) {
      error = errno;
    }
    ::close(fd);
    if (rc == 0) {
      ::freeaddrinfo(found);
      return std::nullopt;
    }
  }
  ::freeaddrinfo(found);
  if (error == ECONNREFUSED) return "connection refused (nothing listens on port " + std::to_string(port) + ")";
  if (error == EHOSTUNREACH || error == ENETUNREACH) return std::string(std::strerror(error));
  return std::nullopt;
}

}  // namespace

int ImapTimeoutSeconds() {
  const char* text = std::getenv(std::string(kImapTimeoutVariable).c_str());
  if (text == nullptr || *text == '\0') return 20;
  char* end = nullptr;
  errno = 0;
  const long seconds = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || seconds < 1 || seconds > 3600) {
    throw SettingError(std::string(kImapTimeoutVariable) + "=" + text +
                       " is not a number of seconds from 1 to 3600");
  }
  return static_cast<int>(seconds);
}

std::shared_ptr<vmime::net::store> ConnectImapStore(const ImapUrl& url) {
  EnsureVmimeInitialised();
  const std::string context = "cannot log in to " + url.Shown();
  try {
    auto session = vmime::net::session::create();
    const bool implicitTls = url.tls == ImapTls::kImplicit;
    vmime::utility::url location(implicitTls ? "imaps" : "imap", url.host, url.port);
    auto store = session->getStore(location);
    if (!implicitTls) {
      store->setProperty("connection.tls", true);
      store->setProperty("connection.tls.required", url.tls == ImapTls::kStartTlsRequired);
    }
    // A plain LOGIN: trying SASL mechanisms first makes a refused password
    // cost several seconds of server-side delay per attempt.
    store->setProperty("options.sasl", false);
    store->setProperty("options.sasl.fallback", false);
    store->setProperty("auth.username", url.user);
    store->setProperty("auth.password", url.password);
    store->setCertificateVerifier(MakeVerifier());
    store->setTimeoutHandlerFactory(std::make_shared<BoundedTimeoutFactory>(ImapTimeoutSeconds()));
    store->connect();
    // Every answer from here on is checked before vmime's parser reads it.
    if (auto imapStore = std::dynamic_pointer_cast<vmime::net::imap::IMAPStore>(store);
        imapStore && imapStore->getConnection()) {
      GuardImapConnection(*imapStore->getConnection());
    }
    return store;
  } catch (const vmime::exceptions::socket_exception&) {
    if (auto cause = ConnectFailureCause(url.host, url.port, std::min(ImapTimeoutSeconds(), 5))) {
      throw LoginError(context + ": cannot connect: " + *cause);
    }
    RethrowAsMailError(ImapStage::kLogin, context, url.password);
  } catch (...) {
    RethrowAsMailError(ImapStage::kLogin, context, url.password);
  }
}

}  // namespace tollbook::mail
