#include "mail/imap/transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tollbook::mail {
namespace {

constexpr const char* kPriorities = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";

int MillisecondsUntil(ImapClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - ImapClock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

std::string Environment(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  return value != nullptr ? value : "";
}

bool IsAddress(const std::string& host) {
  unsigned char buffer[sizeof(in6_addr)];
  return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

struct ImapTransport::Tls {
  gnutls_certificate_credentials_t credentials = nullptr;
  gnutls_session_t session = nullptr;
  int fd = -1;

  // The socket's own calls, so that a peer gone away is an error, not SIGPIPE.
  // A record goes out in one call: with its header and body written apart,
  // the peer's delayed acknowledgement would hold every command back.
  static ssize_t Push(gnutls_transport_ptr_t self, const giovec_t* parts, int count) {
    Tls* tls = static_cast<Tls*>(self);
    msghdr message{};
    message.msg_iov = reinterpret_cast<iovec*>(const_cast<giovec_t*>(parts));
    message.msg_iovlen = static_cast<std::size_t>(count);
    const ssize_t sent = ::sendmsg(tls->fd, &message, MSG_NOSIGNAL);
    if (sent < 0) gnutls_transport_set_errno(tls->session, errno);
    return sent;
  }
  static ssize_t Pull(gnutls_transport_ptr_t self, void* data, size_t size) {
    Tls* tls = static_cast<Tls*>(self);
    const ssize_t got = ::recv(tls->fd, data, size, 0);
    if (got < 0) gnutls_transport_set_errno(tls->session, errno);
    return got;
  }

  ~Tls() {
    if (session != nullptr) gnutls_deinit(session);
    if (credentials != nullptr) gnutls_certificate_free_credentials(credentials);
  }
};

ImapTransport::ImapTransport() = default;

ImapTransport::~ImapTransport() { Close(); }

void ImapTransport::Close() noexcept {
  if (tls_ && fd_ >= 0) {
    // Only what goes out at once: a peer that does not read is not waited for.
    gnutls_bye(tls_->session, GNUTLS_SHUT_WR);
  }
  tls_.reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void ImapTransport::Broken(const std::string& why) {
  Close();
  throw ImapError(ImapGrade::kConnection, why);
}

void ImapTransport::Wait(short events, ImapClock::time_point deadline) {
  for (;;) {
    pollfd wait{fd_, events, 0};
    const int ready = ::poll(&wait, 1, MillisecondsUntil(deadline));
    if (ready > 0) return;
    if (ready == 0) throw ImapTimedOut();
    if (errno != EINTR) Broken(std::string("the connection broke: ") + std::strerror(errno));
  }
}

void ImapTransport::Connect(const std::string& host, int port, ImapClock::time_point deadline) {
  Close();
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
      rc != 0) {
    throw ImapError(ImapGrade::kConnection, "cannot connect: cannot find the host " + host + " (" +
                                                ::gai_strerror(rc) + ")");
  }
  int error = 0;
  for (addrinfo* address = found; address != nullptr && fd_ < 0; address = address->ai_next) {
    const int fd = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address->ai_protocol);
    if (fd < 0) {
      error = errno;
      continue;
    }
    int rc = ::connect(fd, address->ai_addr, address->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      fd_ = fd;
      try {
        Wait(POLLOUT, deadline);
      } catch (...) {
        ::freeaddrinfo(found);
        Close();
        throw;
      }
      fd_ = -1;
      socklen_t length = sizeof error;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
      rc = error == 0 ? 0 : -1;
    } else if (rc != 0) {
      error = errno;
    }
    if (rc == 0) {
      fd_ = fd;
      // Every command is written whole: nothing is gained by holding it back.
      const int on = 1;
      ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    } else {
      ::close(fd);
    }
  }
  ::freeaddrinfo(found);
  if (fd_ >= 0) return;
  if (error == ECONNREFUSED) {
    throw ImapError(ImapGrade::kConnection,
                    "cannot connect: connection refused (nothing listens on port " +
                        std::to_string(port) + ")");
  }
  throw ImapError(ImapGrade::kConnection, std::string("cannot connect: ") + std::strerror(error));
}

void ImapTransport::StartTls(const std::string& host, ImapClock::time_point deadline) {
  auto tls = std::make_unique<Tls>();
  const auto fail = [](int rc, const std::string& what) {
    throw ImapError(ImapGrade::kConnection, "TLS failed: " + what + ": " + gnutls_strerror(rc));
  };
  if (int rc = gnutls_certificate_allocate_credentials(&tls->credentials); rc < 0)
    fail(rc, "setting up");
  const std::string systemFile = Environment("SSL_CERT_FILE");
  if (!systemFile.empty()) {
    gnutls_certificate_set_x509_trust_file(tls->credentials, systemFile.c_str(),
                                           GNUTLS_X509_FMT_PEM);
  } else {
    gnutls_certificate_set_x509_system_trust(tls->credentials);
  }
  if (const std::string extra = Environment(kImapCaFileVariable); !extra.empty()) {
    const int added = gnutls_certificate_set_x509_trust_file(tls->credentials, extra.c_str(),
                                                             GNUTLS_X509_FMT_PEM);
    if (added <= 0) {
      throw ImapError(
          ImapGrade::kLogin,
          "no certificate could be read from " + extra + " named in " +
              std::string(kImapCaFileVariable) +
              (added < 0 ? std::string(" (") + gnutls_strerror(added) + ")" : std::string()));
    }
  }
  if (int rc = gnutls_init(&tls->session, GNUTLS_CLIENT | GNUTLS_NONBLOCK); rc < 0)
    fail(rc, "setting up");
  if (int rc = gnutls_priority_set_direct(tls->session, kPriorities, nullptr); rc < 0) {
    fail(rc, "setting up");
  }
  gnutls_credentials_set(tls->session, GNUTLS_CRD_CERTIFICATE, tls->credentials);
  if (!IsAddress(host)) {
    gnutls_server_name_set(tls->session, GNUTLS_NAME_DNS, host.data(), host.size());
  }
  gnutls_session_set_verify_cert(tls->session, host.c_str(), 0);
  tls->fd = fd_;
  gnutls_transport_set_ptr(tls->session, tls.get());
  gnutls_transport_set_vec_push_function(tls->session, &Tls::Push);
  gnutls_transport_set_pull_function(tls->session, &Tls::Pull);
  for (;;) {
    const int rc = gnutls_handshake(tls->session);
    if (rc == GNUTLS_E_SUCCESS) break;
    if (rc == GNUTLS_E_AGAIN || rc == GNUTLS_E_INTERRUPTED) {
      Wait(gnutls_record_get_direction(tls->session) == 0 ? POLLIN : POLLOUT, deadline);
      continue;
    }
    if (rc == GNUTLS_E_CERTIFICATE_VERIFICATION_ERROR) {
      const unsigned status = gnutls_session_get_verify_cert_status(tls->session);
      std::string why;
      if ((status & GNUTLS_CERT_UNEXPECTED_OWNER) != 0) {
        why = "the server's certificate is not issued for this host name (" + host + ")";
      } else if ((status & GNUTLS_CERT_EXPIRED) != 0) {
        why = "the server's certificate has expired";
      } else if ((status & GNUTLS_CERT_NOT_ACTIVATED) != 0) {
        why = "the server's certificate is not valid yet";
      } else {
        gnutls_datum_t text{};
        std::string detail = "not trusted";
        if (gnutls_certificate_verification_status_print(status, GNUTLS_CRT_X509, &text, 0) == 0) {
          detail.assign(reinterpret_cast<const char*>(text.data), text.size);
          gnutls_free(text.data);
        }
        why = "the server's certificate is not trusted (" + detail +
              "); a private certificate authority can be named in " +
              std::string(kImapCaFileVariable);
      }
      Close();
      throw ImapError(ImapGrade::kLogin, why);
    }
    if (rc == GNUTLS_E_PREMATURE_TERMINATION || rc == GNUTLS_E_PULL_ERROR) {
      Broken("TLS failed: the server closed the connection during the TLS handshake");
    }
    if (gnutls_error_is_fatal(rc) != 0) Broken(std::string("TLS failed: ") + gnutls_strerror(rc));
  }
  tls_ = std::move(tls);
}

bool ImapTransport::HasArrived() {
  if (fd_ < 0) return false;
  if (tls_ && gnutls_record_check_pending(tls_->session) > 0) return true;
  char byte;
  return ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

std::size_t ImapTransport::Read(char* data, std::size_t size, ImapClock::time_point deadline) {
  if (fd_ < 0) throw ImapError(ImapGrade::kConnection, "the connection is closed");
  for (;;) {
    if (tls_) {
      const ssize_t got = gnutls_record_recv(tls_->session, data, size);
      if (got > 0) return static_cast<std::size_t>(got);
      if (got == 0 || got == GNUTLS_E_PREMATURE_TERMINATION)
        Broken("the server closed the connection");
      if (got == GNUTLS_E_AGAIN || got == GNUTLS_E_INTERRUPTED) {
        Wait(POLLIN, deadline);
        continue;
      }
      if (gnutls_error_is_fatal(static_cast<int>(got)) != 0) {
        Broken(std::string("TLS failed: ") + gnutls_strerror(static_cast<int>(got)));
      }
      continue;  // a warning alert, a renegotiation request: read on
    }
    const ssize_t got = ::recv(fd_, data, size, 0);
    if (got > 0) return static_cast<std::size_t>(got);
    if (got == 0) Broken("the server closed the connection");
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      Wait(POLLIN, deadline);
    } else if (errno != EINTR) {
      Broken(std::string("the connection broke: ") + std::strerror(errno));
    }
  }
}

void ImapTransport::Write(std::string_view data, ImapClock::time_point deadline) {
  if (fd_ < 0) throw ImapError(ImapGrade::kConnection, "the connection is closed");
  while (!data.empty()) {
    if (tls_) {
      const ssize_t sent = gnutls_record_send(tls_->session, data.data(), data.size());
      if (sent > 0) {
        data.remove_prefix(static_cast<std::size_t>(sent));
      } else if (sent == GNUTLS_E_AGAIN || sent == GNUTLS_E_INTERRUPTED) {
        Wait(POLLOUT, deadline);
      } else {
        Broken(std::string("the connection broke: ") + gnutls_strerror(static_cast<int>(sent)));
      }
      continue;
    }
    const ssize_t sent = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      data.remove_prefix(static_cast<std::size_t>(sent));
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      Wait(POLLOUT, deadline);
    } else if (sent < 0 && errno != EINTR) {
      Broken(errno == EPIPE || errno == ECONNRESET
                 ? "the server closed the connection"
                 : std::string("the connection broke: ") + std::strerror(errno));
    }
  }
}

}  // namespace tollbook::mail
