#include "sample/sample_mailbox.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <string_view>
#include <vector>
#include <vmime/contentDispositionField.hpp>
#include <vmime/contentTypeField.hpp>
#include <vmime/vmime.hpp>

#include "base/errors.h"
#include "sample/maildir_writer.h"
#include "mail/vmime_init.h"

namespace tollbook::mail {
namespace {

// splitmix64: a small generator whose output is the same on every platform,
// unlike the standard library's distributions.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A number from 0 to n-1.
  int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
  int Between(int low, int high) { return low + Below(high - low + 1); }
  bool Chance(double p) { return static_cast<double>(Next() >> 11) * 0x1.0p-53 < p; }
  template <class T, std::size_t N>
  const T& Pick(const std::array<T, N>& items) {
    return items[static_cast<std::size_t>(Below(static_cast<int>(N)))];
  }

 private:
  std::uint64_t state_;
};

struct User {
  std::string_view postOffice;
  std::string_view id;
  std::string_view account;
};

constexpr std::array<User, 10> kUsers{{
    {"PO1", "jsmith", "1001"},    {"PO1", "mjones", "1002"},   {"PO1", "akhan", "1003"},
    {"PO2", "lchen", "2001"},     {"PO2", "rgarcia", "2002"},  {"SALESPO", "tbrown", "3001"},
    {"SALESPO", "kwhite", "3002"}, {"SALESPO", "pdavis", "3003"}, {"ENGPO", "sng", "4001"},
    {"ENGPO", "dmiller", "4002"},
}};
constexpr std::array<std::string_view, 8> kSubjects{
    "Quarterly figures", "Re: Order 4471",  "Meeting notes",   "Price list update",
    "Invoice 2024-118",  "Fwd: Shipping",   "Weekly report",   "Re: Contract draft"};
constexpr std::array<std::string_view, 6> kPartners{
    "orders@partner.example",  "j.doe@supplier.example", "info@customer.example",
    "billing@carrier.example", "sales@wholesale.example", "support@vendor.example"};
constexpr std::array<std::string_view, 3> kPriorities{"Normal", "Normal", "High"};

constexpr std::int64_t kStartTime = 1709251200;  // 2024-03-01 00:00:00 UTC

struct CivilTime {
  int year, month, day, hour, minute, second;
};

// Unix seconds to the UTC calendar (days-from-civil, inverted).
CivilTime ToCivil(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  const auto inDay = static_cast<int>(seconds % 86400);
  days += 719468;
  const std::int64_t era = days / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned mp = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  const auto year = static_cast<int>(static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2));
  return {year, static_cast<int>(month), static_cast<int>(day), inDay / 3600, inDay / 60 % 60,
          inDay % 60};
}

std::string DateText(const CivilTime& t) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d", t.month, t.day, t.year);
  return text;
}

std::string TimeText(const CivilTime& t) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return text;
}

// Writes the accounting files and the messages around them.
class Generator {
 public:
  Generator(const SampleOptions& options)
      : options_(options), random_(0x70116B00ull ^ (static_cast<std::uint64_t>(options.seed) << 17)) {}

  SampleSummary Write(const std::string& root);

 private:
  enum class Kind {
    kAccounting,      // first attachment "acct" (any case)
    kNoAttachment,    // a plain text message
    kOtherFirst,      // first attachment named otherwise, "acct" second
    kOtherOnly,       // one attachment, named otherwise
    kAcctCsv,         // first attachment "acct.csv"
    kBlankAcct        // first attachment " acct"
  };

  std::string AccountingFile(std::int64_t& lines);
  std::string SmtpLine(const User& user, std::int64_t when);
  std::string OtherLine(const User& user, std::int64_t when);
  std::string NoteText();
  std::string LargePart();
  Kind PickKind();
  void WriteMessage(const std::string& folder, int number, Kind kind, SampleSummary* summary);

  const SampleOptions& options_;
  Random random_;
  std::int64_t clock_ = kStartTime;
  int sequence_ = 0;
};

std::string Generator::SmtpLine(const User& user, std::int64_t when) {
  const CivilTime t = ToCivil(when);
  const bool in = random_.Chance(0.45);
  std::string line;
  line += in ? "I," : "O,";
  line += DateText(t) + "," + TimeText(t) + ",";
  char id[32];
  std::snprintf(id, sizeof id, "%08llX.%03X", static_cast<unsigned long long>(when),
                random_.Below(4096));
  line += std::string(id) + ",Mail," + std::string(random_.Pick(kPriorities)) + ",CORP,";
  line += std::string(user.postOffice) + "," + std::string(user.id) + ",GW" +
          std::string(user.account) + ",";
  line += std::string(random_.Pick(kSubjects)) + ",CORP,GWIA,<";
  line += std::to_string(when) + "." + std::to_string(random_.Below(100000)) + "@mx.example.net>,";
  line += "RFC822," + std::string(random_.Pick(kPartners)) + ",";
  line += std::to_string(random_.Between(1, 4)) + "," + std::to_string(random_.Below(3)) + ",";
  line += std::to_string(random_.Between(600, 250000)) + ",";
  return line;
}

std::string Generator::OtherLine(const User& user, std::int64_t when) {
  const CivilTime t = ToCivil(when);
  std::string line;
  line += std::string(user.id) + "," + std::string(user.account) + ",";
  line += std::string(user.postOffice) + "," + std::string(random_.Pick(kSubjects)) + ",";
  line += std::string(random_.Pick(kPriorities)) + "," + DateText(t) + "," + TimeText(t) + ",";
  line += "Mail,X400," + std::to_string(random_.Below(3)) + ",";
  line += std::to_string(random_.Between(400, 180000)) + ",CORP,";
  line += std::string(user.postOffice) + ",CORP,X400GW," + std::to_string(random_.Between(1, 3));
  line += ",c=US;a=TELEMAIL;p=PARTNER;s=Doe,0,";
  line += random_.Chance(0.5) ? "I" : "O";
  return line;
}

// An accounting file of one flavour: lines in time order, one in two hundred late
// (dated the day before), every line ended by CR LF.
std::string Generator::AccountingFile(std::int64_t& lines) {
  const bool smtp = random_.Chance(0.6);
  const int count = std::max(1, options_.linesPerFile + random_.Between(-options_.linesPerFile / 4,
                                                                         options_.linesPerFile / 4));
  std::string file;
  for (int i = 0; i < count; ++i) {
    clock_ += random_.Between(20, 600);
    const std::int64_t when = random_.Chance(0.005) ? clock_ - 86400 : clock_;
    const int pick = random_.Below(std::max(1, options_.users));
    User user = kUsers[static_cast<std::size_t>(pick) % kUsers.size()];
    std::string id;
    if (pick >= static_cast<int>(kUsers.size())) {
      char text[16];
      std::snprintf(text, sizeof text, "user%06d", pick + 1);
      id = text;
      user.id = id;
    }
    file += smtp ? SmtpLine(user, when) : OtherLine(user, when);
    file += "\r\n";
  }
  lines += count;
  return file;
}

std::string Generator::NoteText() {
  static constexpr std::array<std::string_view, 4> kNotes{
      "Please find the figures for this week below.\r\n",
      "The gateway was restarted at 02:00; no mail was lost.\r\n",
      "Reminder: the post office maintenance window is on Sunday.\r\n",
      "Attached as discussed.\r\n"};
  return std::string(random_.Pick(kNotes)) + "\r\nRegards,\r\nThe mail team\r\n";
}

std::string Generator::LargePart() {
  std::string bytes(options_.largePartBytes, '\0');
  for (std::size_t i = 0; i < bytes.size(); i += 8) {
    const std::uint64_t word = random_.Next();
    for (std::size_t b = 0; b < 8 && i + b < bytes.size(); ++b) {
      bytes[i + b] = static_cast<char>(word >> (8 * b));
    }
  }
  return bytes;
}

Generator::Kind Generator::PickKind() {
  if (random_.Chance(options_.accountingShare)) return Kind::kAccounting;
  static constexpr std::array<Kind, 5> kOthers{Kind::kNoAttachment, Kind::kOtherFirst,
                                                Kind::kOtherOnly, Kind::kAcctCsv, Kind::kBlankAcct};
  return random_.Pick(kOthers);
}

vmime::shared_ptr<vmime::bodyPart> TextPart(const std::string& text) {
  auto part = vmime::make_shared<vmime::bodyPart>();
  auto type = vmime::dynamicCast<vmime::contentTypeField>(part->getHeader()->ContentType());
  type->setValue(vmime::mediaType("text", "plain"));
  type->setCharset(vmime::charset(vmime::charsets::US_ASCII));
  part->getHeader()->ContentTransferEncoding()->setValue(vmime::encoding("7bit"));
  part->getBody()->setContents(vmime::make_shared<vmime::stringContentHandler>(text));
  return part;
}

vmime::shared_ptr<vmime::bodyPart> FilePart(const std::string& name, const std::string& type,
                                            const std::string& content) {
  auto part = vmime::make_shared<vmime::bodyPart>();
  const auto slash = type.find('/');
  part->getHeader()->ContentType()->setValue(
      vmime::mediaType(type.substr(0, slash), type.substr(slash + 1)));
  auto disposition =
      vmime::dynamicCast<vmime::contentDispositionField>(part->getHeader()->ContentDisposition());
  disposition->setValue(vmime::contentDisposition("attachment"));
  disposition->setFilename(vmime::word(name, vmime::charset(vmime::charsets::US_ASCII)));
  part->getHeader()->ContentTransferEncoding()->setValue(vmime::encoding("base64"));
  part->getBody()->setContents(vmime::make_shared<vmime::stringContentHandler>(content));
  return part;
}

void Generator::WriteMessage(const std::string& folder, int number, Kind kind,
                             SampleSummary* summary) {
  ++sequence_;
  clock_ += random_.Between(30, 900);
  const CivilTime t = ToCivil(clock_);

  auto message = vmime::make_shared<vmime::message>();
  auto header = message->getHeader();
  const bool accounting = kind == Kind::kAccounting;
  header->From()->setValue(vmime::mailbox(
      vmime::text(accounting ? "GroupWise Gateway" : "Mail Team"),
      vmime::emailAddress(accounting ? "gwia@gw1.example.net" : "team@example.net")));
  vmime::addressList to;
  to.appendAddress(vmime::make_shared<vmime::mailbox>(vmime::emailAddress("accounting@example.net")));
  header->To()->setValue(to);
  char subject[96];
  std::snprintf(subject, sizeof subject, "%s %s #%d",
                accounting ? "Gateway accounting" : "Mail system note", DateText(t).c_str(),
                number);
  header->Subject()->setValue(vmime::text(subject));
  header->Date()->setValue(vmime::datetime(t.year, t.month, t.day, t.hour, t.minute, t.second, 0));
  header->MessageId()->setValue(
      vmime::messageId("sample." + std::to_string(options_.seed) + "." + std::to_string(sequence_),
                       "tollbook.example"));
  header->MimeVersion()->setValue(vmime::string("1.0"));

  std::vector<vmime::shared_ptr<vmime::bodyPart>> attachments;
  std::int64_t lines = 0;
  switch (kind) {
    case Kind::kAccounting: {
      static constexpr std::array<std::string_view, 6> kNames{"acct", "acct", "acct",
                                                              "acct", "ACCT", "Acct"};
      attachments.push_back(FilePart(std::string(random_.Pick(kNames)), "application/octet-stream",
                                     AccountingFile(lines)));
      break;
    }
    case Kind::kNoAttachment:
      break;
    case Kind::kOtherFirst: {
      std::int64_t ignored = 0;
      attachments.push_back(FilePart("notes.txt", "text/plain", NoteText()));
      attachments.push_back(FilePart("acct", "application/octet-stream", AccountingFile(ignored)));
      break;
    }
    case Kind::kOtherOnly:
      attachments.push_back(FilePart("report.pdf", "application/pdf", NoteText()));
      break;
    case Kind::kAcctCsv: {
      std::int64_t ignored = 0;
      attachments.push_back(FilePart("acct.csv", "text/csv", AccountingFile(ignored)));
      break;
    }
    case Kind::kBlankAcct: {
      std::int64_t ignored = 0;
      attachments.push_back(
          FilePart(" acct", "application/octet-stream", AccountingFile(ignored)));
      break;
    }
  }
  if (options_.largePartBytes > 0) {
    attachments.push_back(FilePart("scan-" + std::to_string(sequence_) + ".pdf",
                                   "application/pdf", LargePart()));
  }

  if (attachments.empty()) {
    auto text = TextPart(NoteText());
    header->ContentType()->setValue(vmime::mediaType("text", "plain"));
    vmime::dynamicCast<vmime::contentTypeField>(header->ContentType())
        ->setCharset(vmime::charset(vmime::charsets::US_ASCII));
    header->ContentTransferEncoding()->setValue(vmime::encoding("7bit"));
    message->getBody()->setContents(text->getBody()->getContents());
  } else {
    auto type = vmime::dynamicCast<vmime::contentTypeField>(header->ContentType());
    type->setValue(vmime::mediaType("multipart", "mixed"));
    type->setBoundary("=_tollbook_" + std::to_string(options_.seed) + "_" +
                      std::to_string(sequence_));
    message->getBody()->appendPart(TextPart(NoteText()));
    for (auto& part : attachments) message->getBody()->appendPart(part);
  }

  std::string generated;
  vmime::utility::outputStreamStringAdapter out(generated);
  message->generate(out);

  // Delivered as a Maildir delivery names it; about a quarter still unread in
  // new/, the rest seen (some also answered or flagged) in cur/.
  char name[96];
  std::snprintf(name, sizeof name, "%lld.M%06dP%d.gw1.example.net",
                static_cast<long long>(clock_), sequence_ % 1000000, 4000 + sequence_ % 997);
  std::string fileName = name;
  std::string_view subdirectory = "new";
  if (!random_.Chance(0.25)) {
    static constexpr std::array<std::string_view, 5> kFlags{":2,S", ":2,S", ":2,S", ":2,RS",
                                                            ":2,FS"};
    fileName += random_.Pick(kFlags);
    subdirectory = "cur";
  }
  WriteMaildirMessage(folder, subdirectory, fileName, ToMaildirLineEnds(generated));

  if (summary != nullptr) {
    if (accounting) {
      ++summary->accountingMessages;
      summary->accountingLines += lines;
    } else {
      ++summary->otherMessages;
    }
  }
}

SampleSummary Generator::Write(const std::string& root) {
  for (const char* subdirectory : {"/cur", "/new"}) {
    struct stat st {};
    if (::stat((root + subdirectory).c_str(), &st) == 0) {
      throw Failure("cannot write a sample mailbox into " + root + ": it holds a mailbox already");
    }
  }
  CreateMaildirFolder(root, false);
  const std::string accountingFolder = root + "/.Accounting";
  CreateMaildirFolder(accountingFolder, true);
  if (options_.otherFolders) {
    for (const char* name : {"/.Drafts", "/.Sent", "/.Trash", "/.Archive", "/.Archive.2023"}) {
      CreateMaildirFolder(root + name, true);
    }
    for (int i = 1; i <= 4; ++i) WriteMessage(root, i, Kind::kNoAttachment, nullptr);
    WriteMessage(root, 5, Kind::kOtherOnly, nullptr);
  }
  SampleSummary summary;
  for (int i = 1; i <= options_.messages; ++i) {
    WriteMessage(accountingFolder, i, PickKind(), &summary);
  }
  return summary;
}

}  // namespace

SampleSummary WriteSampleMailbox(const std::string& root, const SampleOptions& options) {
  EnsureVmimeInitialised();
  Generator generator(options);
  return generator.Write(root);
}

}  // namespace tollbook::mail
