// The byte stream under the IMAP client: a TCP connection, then TLS through
// GnuTLS (the system's trust store or $SSL_CERT_FILE, plus
// $TOLLBOOK_IMAP_CA_FILE; the certificate checked against the host name;
// TLS 1.2 at least). Every wait is bounded by a deadline, checked with poll().
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "mail/imap/errors.h"

namespace tollbook::mail {

using ImapClock = std::chrono::steady_clock;

// A PEM file of extra certificates to trust, besides the system's store (for a
// server with a private certificate authority, or a test server).
inline constexpr std::string_view kImapCaFileVariable = "TOLLBOOK_IMAP_CA_FILE";

// The deadline passed while waiting for the server. The client words it.
class ImapTimedOut : public ImapError {
 public:
  ImapTimedOut() : ImapError(ImapGrade::kConnection, "timed out") {}
};

class ImapTransport {
 public:
  ImapTransport();
  ~ImapTransport();
  ImapTransport(const ImapTransport&) = delete;
  ImapTransport& operator=(const ImapTransport&) = delete;

  // Opens a TCP connection to host:port (every address the name gives, in
  // turn). Throws ImapError naming the cause (connection refused, unknown
  // host, ...) or ImapTimedOut.
  void Connect(const std::string& host, int port, ImapClock::time_point deadline);
  // Shakes hands as a TLS client and checks the server's certificate for
  // host. Throws ImapError ("TLS failed: ...", "the server's certificate
  // ...") or ImapTimedOut.
  void StartTls(const std::string& host, ImapClock::time_point deadline);
  // Reads at most size bytes, at least one: waits until deadline. Throws
  // ImapError when the server closed the connection or it broke, and
  // ImapTimedOut.
  std::size_t Read(char* data, std::size_t size, ImapClock::time_point deadline);
  // Sends all of data. Throws as Read().
  void Write(std::string_view data, ImapClock::time_point deadline);
  // Whether bytes that were not read yet have arrived (not waiting).
  bool HasArrived();
  bool Open() const { return fd_ >= 0; }
  bool Secure() const { return tls_ != nullptr; }
  // Closes the connection; a TLS session says goodbye when it can at once.
  void Close() noexcept;

 private:
  struct Tls;
  void Wait(short events, ImapClock::time_point deadline);
  [[noreturn]] void Broken(const std::string& why);

  int fd_ = -1;
  std::unique_ptr<Tls> tls_;
};

}  // namespace tollbook::mail
