// SHA-256 (FIPS 180-4) of a byte stream fed in pieces. Nothing the project
// already links offers it (vmime has MD5 and SHA-1 only), and it is short.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tollbook::ledger {

class Sha256 {
 public:
  Sha256();
  void Update(std::string_view bytes);
  // The digest as 64 lower-case hex digits. Ends the hash: no Update after it.
  std::string HexDigest();

 private:
  void Block(const unsigned char* block);

  std::array<std::uint32_t, 8> state_;
  std::array<unsigned char, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;  // bytes fed
};

}  // namespace tollbook::ledger
