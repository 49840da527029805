// What the SASL mechanisms of the IMAP log-in send: base64, the PLAIN,
// XOAUTH2 and OAUTHBEARER initial responses, and the status of an OAuth 2.0
// error challenge.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tollbook::mail {

std::string Base64Encode(std::string_view bytes);
// nullopt for text that is not base64.
std::optional<std::string> Base64Decode(std::string_view text);

// RFC 4616: "\0user\0password".
std::string SaslPlain(const std::string& user, const std::string& password);
// Google's and Microsoft's XOAUTH2: "user=U\1auth=Bearer T\1\1".
std::string SaslXoauth2(const std::string& user, const std::string& token);
// RFC 7628: "n,a=U,\1host=H\1port=P\1auth=Bearer T\1\1", the user name's
// ',' and '=' escaped as RFC 5801 asks.
std::string SaslOauthBearer(const std::string& user, const std::string& host, int port,
                            const std::string& token);

// The value of the "status" member of an OAuth 2.0 error challenge (a JSON
// object, RFC 7628 section 3.2.2), "" when there is none.
std::string OAuthErrorStatus(std::string_view json);

}  // namespace tollbook::mail
