// An "acct" attachment of 200 MB (TOLLBOOK_BIG_ATTACHMENT_MB to change) in a
// real Maildir: tollbook-cli saves it byte for byte and merges it with flat
// memory (peak resident size below 100 MB, the attachment staying on disk),
// recording it into a ledger as well.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "hardening/crash_harness.h"
#include "support/test_support.h"

namespace tollbook::testing {
namespace {

// The n-th line of the big attachment.
std::string BigLine(long n) {
  return "O,12/01/99,10:15,MSG" + std::to_string(n) +
         ",Mail,Normal,DOM,PO1,user" + std::to_string(n % 97) +
         ",ACC,Subject,GDOM,GATE,F,SMTP,ADDR,1,0," + std::to_string(n % 5000) + ",X\r\n";
}

TEST(BigAttachment, SavedByteForByteWithFlatMemory) {
  const char* value = std::getenv("TOLLBOOK_BIG_ATTACHMENT_MB");
  const long megabytes = value != nullptr ? std::atol(value) : 200;
  const long bytes = megabytes << 20;
  const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : nullptr;
  if (base != nullptr) ::setenv("TMPDIR", base, 1);
  TempDir dir;
  const std::string mail = dir / "mail";
  for (const char* sub : {"cur", "new", "tmp"}) std::filesystem::create_directories(mail + "/" + sub);

  // The message, written as it is encoded: base64 in 76-character lines.
  long lines = 0;
  std::uint64_t attachmentSize = 0;
  {
    std::ofstream out(mail + "/cur/big.M1.host:2,S", std::ios::binary);
    out << "From: gateway@example.org\nSubject: big\nMIME-Version: 1.0\n"
           "Content-Type: multipart/mixed; boundary=\"B\"\n\n--B\nContent-Type: text/plain\n\n"
           "Body.\n--B\nContent-Type: application/octet-stream; name=\"acct\"\n"
           "Content-Disposition: attachment; filename=\"acct\"\n"
           "Content-Transfer-Encoding: base64\n\n";
    std::string pending;
    while (static_cast<long>(attachmentSize) < bytes) {
      const std::string line = BigLine(++lines);
      pending += line;
      attachmentSize += line.size();
      if (pending.size() >= 57 * 1024) {
        const std::size_t whole = pending.size() / 57 * 57;
        out << Base64Lines(pending.substr(0, whole));
        pending.erase(0, whole);
      }
    }
    out << Base64Lines(pending) << "--B--\n";
    ASSERT_TRUE(out.good());
  }

  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    const std::string ledger = dir / "ledger.sqlite";
    ::execl(TOLLBOOK_CLI_PATH, TOLLBOOK_CLI_PATH, "--mailbox", mail.c_str(), "--output",
            dir.Path().c_str(), "--delete", "--ledger", ledger.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const long peakMegabytes = usage.ru_maxrss / 1024;
  std::printf("peak RSS %ld MB for a %ld MB attachment\n", peakMegabytes, megabytes);
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer keeps freed memory in quarantine and adds shadow memory:
  // resident size says nothing about Tollbook's own use there.
  (void)peakMegabytes;
#else
  EXPECT_LT(peakMegabytes, 100);
#endif

  // The scratch file and fullacct.csv, compared line by line with the source.
  EXPECT_EQ(std::filesystem::file_size(dir / "acct 1"), attachmentSize);
  std::ifstream scratch(dir / "acct 1", std::ios::binary);
  std::ifstream full(dir / "fullacct.csv", std::ios::binary);
  std::string header;
  std::getline(full, header);
  std::string expected, got, merged;
  long mismatches = 0;
  for (long n = 1; n <= lines; ++n) {
    expected = BigLine(n);
    got.resize(expected.size());
    scratch.read(got.data(), static_cast<std::streamsize>(got.size()));
    merged.resize(expected.size());
    full.read(merged.data(), static_cast<std::streamsize>(merged.size()));
    if (got != expected || merged != expected) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(scratch.peek(), EOF);
  EXPECT_EQ(full.peek(), EOF);
  EXPECT_EQ(RemainingMessages(mail), std::vector<std::string>{});
}

}  // namespace
}  // namespace tollbook::testing
