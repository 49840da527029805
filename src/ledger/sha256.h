// SHA-256 (FIPS 180-4) of a byte stream fed in pieces. Nothing the project
// already links offers it (vmime has MD5 and SHA-1 only), and it is short.
// Where the processor has the SHA extensions, they compute the blocks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tollbook::ledger {

class Sha256 {
 public:
  // useCpuInstructions false keeps to the portable code (for tests).
  explicit Sha256(bool useCpuInstructions = true);
  void Update(std::string_view bytes);
  // The digest as 64 lower-case hex digits. Ends the hash: no Update after it.
  std::string HexDigest();

 private:
  // Hashes count blocks of 64 bytes.
  void Blocks(const unsigned char* blocks, std::size_t count);
  void Block(const unsigned char* block);

  std::array<std::uint32_t, 8> state_;
  std::array<unsigned char, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;  // bytes fed
  bool cpuInstructions_;
};

}  // namespace tollbook::ledger
