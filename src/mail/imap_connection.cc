#include "mail/imap_connection.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vmime/net/imap/IMAPStore.hpp>
#include <vmime/security/cert/defaultCertificateVerifier.hpp>
#include <vmime/vmime.hpp>

#include "mail/imap_errors.h"
#include "mail/imap_response_limits.h"
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

}  // namespace

int ImapTimeoutSeconds() {
  const char* text = std::getenv(std::string(kImapTimeoutVariable).c_str());
  if (text != nullptr) {
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && seconds >= 1 && seconds <= 3600) return static_cast<int>(seconds);
  }
  return 20;
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
  } catch (...) {
    RethrowAsMailError(ImapStage::kLogin, context, url.password);
  }
}

}  // namespace tollbook::mail
