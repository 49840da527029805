#include "base/errors.h"

#include <cstring>

namespace tollbook {
namespace {

std::string Printable(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

Failure::Failure(const std::string& message) : std::runtime_error(Printable(message)) {}

FileError::FileError(const std::string& action, const std::string& path, int error_number)
    : Failure(action + " " + path + ": " + std::strerror(error_number)),
      error_number_(error_number) {}

}  // namespace tollbook
