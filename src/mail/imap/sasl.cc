#include "mail/imap/sasl.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace tollbook::mail {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t j = 0; j < 3; ++j) {
      group = (group << 8) | (j < n ? static_cast<unsigned char>(bytes[i + j]) : 0U);
    }
    for (std::size_t j = 0; j < 4; ++j) {
      out += j <= n ? kAlphabet[(group >> (18 - 6 * j)) & 0x3F] : '=';
    }
  }
  return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  static const std::array<int, 256> values = [] {
    std::array<int, 256> table{};
    table.fill(-1);
    for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
      table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int>(i);
    }
    return table;
  }();
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  std::string out;
  std::uint32_t group = 0;
  int bits = 0;
  for (const char c : text) {
    const int value = values[static_cast<unsigned char>(c)];
    if (value < 0) return std::nullopt;
    group = (group << 6) | static_cast<std::uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((group >> bits) & 0xFF);
    }
  }
  return out;
}

std::string SaslPlain(const std::string& user, const std::string& password) {
  return std::string(1, '\0') + user + std::string(1, '\0') + password;
}

std::string SaslXoauth2(const std::string& user, const std::string& token) {
  return "user=" + user + "\x01" + "auth=Bearer " + token + "\x01\x01";
}

std::string SaslOauthBearer(const std::string& user, const std::string& host, int port,
                            const std::string& token) {
  std::string name;
  for (const char c : user) {
    if (c == ',') {
      name += "=2C";
    } else if (c == '=') {
      name += "=3D";
    } else {
      name += c;
    }
  }
  return "n,a=" + name + ",\x01" + "host=" + host + "\x01" + "port=" + std::to_string(port) +
         "\x01" + "auth=Bearer " + token + "\x01\x01";
}

std::string OAuthErrorStatus(std::string_view json) {
  const auto key = json.find("\"status\"");
  if (key == std::string_view::npos) return {};
  auto at = json.find_first_not_of(" \t\r\n", key + 8);
  if (at == std::string_view::npos || json[at] != ':') return {};
  at = json.find_first_not_of(" \t\r\n", at + 1);
  if (at == std::string_view::npos || json[at] != '"') return {};
  std::string status;
  for (++at; at < json.size() && json[at] != '"' && status.size() < 100; ++at) {
    if (json[at] == '\\' && at + 1 < json.size()) ++at;
    status += json[at];
  }
  return status;
}

}  // namespace tollbook::mail
