// Connecting to an IMAP server through vmime: TLS with verified certificates,
// bounded time-outs and a plain IMAP LOGIN.
#pragma once

#include <memory>
#include <string_view>
#include <vmime/net/store.hpp>

#include "mail/imap/url.h"

namespace tollbook::mail {

// A PEM file of extra certificates to trust, besides the system's store (for a
// server with a private certificate authority, or a test server).
inline constexpr std::string_view kImapCaFileVariable = "TOLLBOOK_IMAP_CA_FILE";
// How long to wait for the server, in seconds (default 20).
inline constexpr std::string_view kImapTimeoutVariable = "TOLLBOOK_IMAP_TIMEOUT";

// The time-out in seconds: $TOLLBOOK_IMAP_TIMEOUT, a number from 1 to 3600,
// or 20 when it is unset or empty. Throws SettingError for any other value.
int ImapTimeoutSeconds();

// Connects and logs in. Throws LoginError naming the cause (refused
// connection, unknown host, untrusted certificate, refused password,
// time-out); the message never holds the password.
std::shared_ptr<vmime::net::store> ConnectImapStore(const ImapUrl& url);

}  // namespace tollbook::mail
