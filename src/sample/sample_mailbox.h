// Generates a sample Maildir++ tree with realistic gateway traffic: an
// "Accounting" folder whose messages carry accounting files of both flavours,
// mixed with messages that must be left alone. Deterministic for a seed.
// Used by tollbook-sample, the tests and the benchmarks.
#pragma once

#include <cstdint>
#include <string>

namespace tollbook::mail {

struct SampleOptions {
  int messages = 200;           // messages in the Accounting folder
  std::uint32_t seed = 1;
  int linesPerFile = 20;        // accounting lines per attachment (about)
  int users = 10;               // distinct senders: ten named ones, then user000011, ...
  double accountingShare = 0.5; // share of messages that carry an "acct" first attachment
  std::size_t largePartBytes = 0;  // when > 0, every message also carries a non-accounting
                                   // part of this size
  bool otherFolders = true;     // also write INBOX messages and a few empty folders
};

struct SampleSummary {
  int accountingMessages = 0;   // messages whose first attachment is "acct"
  int otherMessages = 0;        // messages that must be left alone
  std::int64_t accountingLines = 0;
};

// Writes the tree under root (created if missing; must not hold a mailbox
// yet). Throws tollbook::Failure on file errors.
SampleSummary WriteSampleMailbox(const std::string& root, const SampleOptions& options);

}  // namespace tollbook::mail
