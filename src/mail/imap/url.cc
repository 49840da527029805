#include "mail/imap/url.h"

#include <cctype>
#include <charconv>

#include "base/text.h"
#include "mail/imap/netrc.h"
#include "mail/mail_source.h"

namespace tollbook::mail {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes %XX escapes; what names the part for the error message.
std::string PercentDecode(std::string_view text, const std::string& shown, const char* what) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const int hi = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
    const int lo = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
    if (hi < 0 || lo < 0) {
      throw SettingError("bad %-escape in the " + std::string(what) + " of " + shown);
    }
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

std::size_t FindIgnoreCase(std::string_view text, std::string_view word) {
  for (std::size_t at = 0; at + word.size() <= text.size(); ++at) {
    if (EqualsIgnoreCase(text.substr(at, word.size()), word)) return at;
  }
  return std::string_view::npos;
}

std::string PercentEncodeUser(const std::string& user) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : user) {
    if (c == '@' || c == ':' || c == '%' || c == '/' || c == '?' || c <= ' ' || c >= 0x7f) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

std::string ImapUrl::Shown() const {
  std::string shown = tls == ImapTls::kImplicit ? "imaps://" : "imap://";
  if (!user.empty() || !mechanism.empty()) {
    shown += PercentEncodeUser(user) + (mechanism.empty() ? "" : ";AUTH=" + mechanism) + "@";
  }
  shown += host.find(':') != std::string::npos ? "[" + host + "]" : host;
  shown += ":" + std::to_string(port);
  if (tls == ImapTls::kNone) shown += "?tls=none";
  return shown;
}

ImapUrl ParseImapUrl(std::string_view url) {
  ImapUrl result;
  std::string_view rest;
  if (url.size() >= 8 && EqualsIgnoreCase(url.substr(0, 8), "imaps://")) {
    result.tls = ImapTls::kImplicit;
    result.port = 993;
    rest = url.substr(8);
  } else if (url.size() >= 7 && EqualsIgnoreCase(url.substr(0, 7), "imap://")) {
    rest = url.substr(7);
  } else {
    throw SettingError("not an IMAP location (imap:// or imaps://): " +
                       std::string(url.substr(0, url.find("://"))));
  }

  std::string_view query;
  if (const auto q = rest.find('?'); q != std::string_view::npos) {
    query = rest.substr(q + 1);
    rest = rest.substr(0, q);
  }
  // The user information ends at the last '@' before the host.
  std::string_view userInfo;
  std::string userInfoStorage;
  if (const auto at = rest.rfind('@'); at != std::string_view::npos) {
    userInfo = rest.substr(0, at);
    rest = rest.substr(at + 1);
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.find('/') != std::string_view::npos) {
    throw SettingError("an IMAP location names a server, not a folder: " +
                       std::string(rest.substr(rest.find('/'))) + " is not understood");
  }

  std::string_view hostPort = rest;
  std::string_view portText;
  if (hostPort.starts_with("[")) {
    const auto close = hostPort.find(']');
    if (close == std::string_view::npos)
      throw SettingError("unclosed [ in the host of an IMAP location");
    result.host = std::string(hostPort.substr(1, close - 1));
    std::string_view after = hostPort.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') throw SettingError("unexpected text after the host of an IMAP location");
      portText = after.substr(1);
    }
  } else {
    const auto colon = hostPort.find(':');
    result.host = std::string(hostPort.substr(0, colon));
    if (colon != std::string_view::npos) portText = hostPort.substr(colon + 1);
  }
  if (result.host.empty()) throw SettingError("no host in the IMAP location");
  if (!portText.empty() || hostPort.ends_with(":")) {
    int port = 0;
    const auto [end, ec] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (ec != std::errc() || end != portText.data() + portText.size() || port < 1 || port > 65535) {
      throw SettingError("bad port \"" + std::string(portText) +
                         "\" in the IMAP location (1 to 65535)");
    }
    result.port = port;
  }

  const std::string shownHost = result.host;
  // ";AUTH=" ends the user name (RFC 5092); a password may follow.
  if (const auto auth = FindIgnoreCase(userInfo, ";AUTH="); auth != std::string_view::npos) {
    const auto end = userInfo.find(':', auth);
    std::string mechanism(userInfo.substr(
        auth + 6, end == std::string_view::npos ? std::string_view::npos : end - auth - 6));
    for (auto& c : mechanism) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (mechanism != "XOAUTH2" && mechanism != "OAUTHBEARER" && mechanism != "*") {
      throw SettingError("unknown log-in mechanism \";AUTH=" + mechanism +
                         "\" in the IMAP location of " + shownHost +
                         " (known: XOAUTH2, OAUTHBEARER)");
    }
    if (mechanism != "*") result.mechanism = mechanism;
    userInfo = std::string_view(
        userInfoStorage =
            std::string(userInfo.substr(0, auth)) +
            std::string(end == std::string_view::npos ? std::string_view() : userInfo.substr(end)));
  }
  if (!userInfo.empty()) {
    const auto colon = userInfo.find(':');
    result.user = PercentDecode(userInfo.substr(0, colon), shownHost, "user name");
    if (colon != std::string_view::npos) {
      result.password = PercentDecode(userInfo.substr(colon + 1), shownHost, "password");
      result.hasPassword = true;
    }
  }

  while (!query.empty()) {
    const auto amp = query.find('&');
    const std::string_view item = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (item == "tls=required") {
      continue;  // the default
    } else if (item == "tls=none" && result.tls != ImapTls::kImplicit) {
      result.tls = ImapTls::kNone;
    } else if (item.starts_with("tls=")) {
      throw SettingError("\"?" + std::string(item) + "\" in the IMAP location " + result.Shown() +
                         ": imap:// always uses STARTTLS (tls=required); ?tls=none logs in without "
                         "TLS, the password in clear text");
    } else if (!item.empty()) {
      throw SettingError("unknown option \"" + std::string(item) + "\" in the IMAP location " +
                         result.Shown() + " (known: tls=required, tls=none)");
    }
  }
  return result;
}

void CompleteImapCredentials(ImapUrl& url, const std::string& netrcPath, const TraceSink& warn) {
  if (!url.hasPassword) {
    if (auto entry = LookupNetrc(netrcPath, url.host, url.user)) {
      if (url.user.empty()) url.user = entry->login;
      url.password = entry->password;
      url.hasPassword = !entry->password.empty() || !entry->login.empty();
      if (entry->othersCanRead && !entry->password.empty() && warn) {
        warn("warning: " + netrcPath +
             " can be read by other users, and with it the password for " + url.host +
             "; make it private with: chmod 600 " + netrcPath);
      }
    }
  }
  if (url.user.empty()) {
    throw LoginError("no user name for " + url.Shown() + ": give it in the location (imap://USER@" +
                     url.host + ") or in " + netrcPath);
  }
  if (!url.hasPassword) {
    throw LoginError("no password for " + url.Shown() +
                     ": name a password command (--password-command or " +
                     "TOLLBOOK_IMAP_PASSWORD_COMMAND), add it to " + netrcPath + " (machine " +
                     url.host + " login " + url.user + " password ...) or give it in the location");
  }
}

}  // namespace tollbook::mail
