// The Maildir source on real Maildir++ trees holding real MIME messages.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "base/errors.h"
#include "accounting/run_state.h"
#include "mail/session_factory.h"
#include "run/processing_run.h"
#include "support/mime_fixture.h"
#include "support/test_support.h"

namespace tollbook::mail {
namespace {

using testing::AttachmentPart;
using testing::MaildirFixture;
using testing::MimePart;
using testing::MultipartMessage;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::unique_ptr<Account> LogIn(const std::string& location) {
  return CreateSession(location)->Login("", "");
}

std::vector<std::string> FolderNamesOf(Account& account) {
  std::vector<std::string> names;
  auto folders = account.AllFolders();
  for (int i = 1; i <= folders->Count(); ++i) names.push_back(folders->Item(i)->Name());
  return names;
}

// The first message of the mailbox.
struct FirstMessage {
  std::unique_ptr<Account> account;
  std::unique_ptr<Folder> folder;
  std::unique_ptr<MessageCollection> messages;
  std::unique_ptr<Message> message;
  explicit FirstMessage(const std::string& root)
      : account(LogIn(root)), folder(account->Mailbox()), messages(folder->Messages(false)),
        message(messages->Next()) {}
};

std::vector<std::string> DisplayNames(const std::string& rawMessage) {
  TempDir dir;
  MaildirFixture maildir(dir / "Maildir");
  maildir.Deliver("", "new", "1709287200.M1P1.test", rawMessage);
  FirstMessage first(maildir.Root());
  auto attachments = first.message->Attachments();
  std::vector<std::string> names;
  for (int i = 1; i <= attachments->Count(); ++i) {
    names.push_back(attachments->Item(i)->DisplayName());
  }
  return names;
}

TEST(MaildirSource, ListsTheMailboxFirstThenTheFoldersByName) {
  TempDir dir;
  MaildirFixture maildir(dir / "Maildir");
  for (const char* name : {"Sent", "Accounting", "A.B", "Entw&APw-rfe", "Trash"}) {
    maildir.AddFolder(name);
  }
  testing::WriteFile(maildir.Root() + "/.hidden-file", "");
  ASSERT_EQ(::mkdir((maildir.Root() + "/.NoCur").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((maildir.Root() + "/Plain").c_str(), 0700), 0);

  auto account = LogIn("maildir:" + maildir.Root());
  EXPECT_EQ(FolderNamesOf(*account),
            (std::vector<std::string>{"INBOX", "A.B", "Accounting", "Entwürfe", "Sent", "Trash"}));
  EXPECT_EQ(account->Mailbox()->Name(), "INBOX");
  EXPECT_TRUE(account->Remote());
  const passwd* user = ::getpwuid(::getuid());
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(account->Owner(), user->pw_name);
  EXPECT_THROW(account->AllFolders()->Item(7), MailError);
  EXPECT_THROW(account->AllFolders()->Item(0), MailError);
}

TEST(MaildirSource, AnInboxOnlyTreeListsOnlyInbox) {
  TempDir dir;
  MaildirFixture maildir(dir / "Maildir");
  auto account = LogIn(maildir.Root() + "/");
  EXPECT_EQ(FolderNamesOf(*account), std::vector<std::string>{"INBOX"});
}

TEST(MaildirSource, WalksNewAndCurTogetherInDeliveryOrder) {
  TempDir dir;
  MaildirFixture maildir(dir / "Maildir");
  const std::string message = MultipartMessage("m", {AttachmentPart("acct", "x\r\n")});
  maildir.Deliver("", "new", "1709287204.M4P1.host", message);
  maildir.Deliver("", "cur", "1709287201.M1P1.host:2,S", message);
  maildir.Deliver("", "new", "1709287203.M3P1.host", message);
  maildir.Deliver("", "cur", "1709287202.M2P1.host:2,RS", message);
  maildir.Deliver("", "cur", "1709287205.M5P1.host:2,", message);
  maildir.Deliver("", "tmp", "1709287200.M0P1.host", message);
  maildir.Deliver("", "cur", ".1709287200.hidden", message);
  ASSERT_EQ(::mkdir((maildir.Root() + "/cur/1709287200.dir").c_str(), 0700), 0);

  auto account = LogIn(maildir.Root());
  auto messages = account->Mailbox()->Messages(false);
  std::vector<std::string> walked;
  while (auto m = messages->Next()) walked.push_back(m->Describe());
  EXPECT_EQ(walked, (std::vector<std::string>{
                        "cur/1709287201.M1P1.host:2,S", "cur/1709287202.M2P1.host:2,RS",
                        "new/1709287203.M3P1.host", "new/1709287204.M4P1.host",
                        "cur/1709287205.M5P1.host:2,"}));
  // Reading changes nothing: no file moves from new/ to cur/, no flag is added.
  EXPECT_EQ(maildir.Files(""), (std::vector<std::string>{
                                   "cur/.1709287200.hidden", "cur/1709287200.dir",
                                   "cur/1709287201.M1P1.host:2,S", "cur/1709287202.M2P1.host:2,RS",
                                   "cur/1709287205.M5P1.host:2,", "new/1709287203.M3P1.host",
                                   "new/1709287204.M4P1.host"}));
}

TEST(MaildirSource, FolderMessagesComeFromTheFolderDirectory) {
  TempDir dir;
  MaildirFixture maildir(dir / "Maildir");
  maildir.AddFolder("Accounting");
  maildir.Deliver("Accounting", "cur", "1709287201.M1P1.host:2,S",
                  "Message-ID:\n  <m1@gw.example> \n" + MultipartMessage("m", {AttachmentPart("acct", "x")}));
  maildir.Deliver("", "cur", "1709287202.M2P1.host:2,S", MultipartMessage("m", {}));
  auto account = LogIn(maildir.Root());
  auto messages = account->AllFolders()->Item(2)->Messages(true);
  auto first = messages->Next();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Describe(), "cur/1709287201.M1P1.host:2,S");
  const auto identity = first->Identity();
  EXPECT_EQ(identity.store, "maildir 1709287201.M1P1.host");
  EXPECT_EQ(identity.messageId, "<m1@gw.example>");
  EXPECT_EQ(identity.date, "Fri, 1 Mar 2024 10:00:00 +0000");
  EXPECT_EQ(messages->Next(), nullptr);
}

struct DisplayNameCase {
  const char* what;
  std::vector<std::string> headers;
  std::vector<std::string> names;  // the message's attachments, in order
};

TEST(MaildirSource, DisplayNames) {
  const DisplayNameCase cases[] = {
      {"filename before Content-Type name",
       {"Content-Type: application/octet-stream; name=\"other\"",
        "Content-Disposition: attachment; filename=\"acct\""},
       {"acct"}},
      {"Content-Type name alone", {"Content-Type: application/octet-stream; name=\"acct\""}, {"acct"}},
      {"token filename", {"Content-Type: application/octet-stream",
                          "Content-Disposition: attachment; filename=acct"}, {"acct"}},
      {"upper case", {"Content-Disposition: attachment; filename=\"ACCT\""}, {"ACCT"}},
      {"a blank in front is kept",
       {"Content-Type: application/octet-stream", "Content-Disposition: attachment; filename=\" acct\""},
       {" acct"}},
      {"blanks inside and after are kept",
       {"Content-Disposition: attachment; filename=\"ac  ct \""}, {"ac  ct "}},
      {"quoted-pair", {"Content-Disposition: attachment; filename=\"a\\\"cct\""}, {"a\"cct"}},
      {"RFC 2231", {"Content-Disposition: attachment; filename*=utf-8''%C3%A4cct%20x"}, {"äcct x"}},
      {"RFC 2231 continuations",
       {"Content-Disposition: attachment;", " filename*0=\"ac\";", " filename*1=\"ct\""}, {"acct"}},
      {"RFC 2231 with a plain one beside it",
       {"Content-Disposition: attachment; filename=\"fallback\"; filename*=iso-8859-1''%E4cct"},
       {"äcct"}},
      {"RFC 2047 in a quoted name",
       {"Content-Disposition: attachment; filename=\"=?utf-8?B?w6RjY3Q=?=\""}, {"äcct"}},
      {"RFC 2047 in Content-Type name",
       {"Content-Type: application/octet-stream; name=\"=?iso-8859-1?Q?=E4cct?=\""}, {"äcct"}},
      {"acct.csv stays acct.csv", {"Content-Disposition: attachment; filename=\"acct.csv\""},
       {"acct.csv"}},
      {"inline text part without a name is the body",
       {"Content-Type: text/plain", "Content-Disposition: inline"}, {}},
      {"text part without a name is an attachment when attachment-disposed",
       {"Content-Type: text/plain", "Content-Disposition: attachment"}, {""}},
      {"inline part with a file name", {"Content-Type: text/plain",
                                        "Content-Disposition: inline; filename=\"acct\""}, {"acct"}},
      {"inline image with a Content-ID outside a multipart/related is an attachment",
       {"Content-Type: image/png", "Content-ID: <logo@example>", "Content-Disposition: inline"},
       {""}},
      {"text part with only a Content-Type name is an attachment",
       {"Content-Type: text/plain; name=\"acct\""}, {"acct"}},
      {"attachment without any name", {"Content-Type: application/octet-stream"}, {""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DisplayNames(MultipartMessage("names", {{c.headers, "ZGF0YQ==\n"}})), c.names);
  }
}

TEST(MaildirSource, AttachmentsInMessageOrderAcrossNestedParts) {
  const std::string message =
      "Subject: nested\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"out\"\n\n"
      "--out\nContent-Type: multipart/alternative; boundary=\"in\"\n\n"
      "--in\nContent-Type: text/plain\n\nplain body\n"
      "--in\nContent-Type: text/html\n\n<p>html body</p>\n--in--\n"
      "--out\nContent-Type: application/pdf\nContent-Disposition: attachment; filename=\"notes.pdf\"\n"
      "\nJVBERi0=\n"
      "--out\nContent-Type: application/octet-stream\nContent-Disposition: attachment; "
      "filename=\"acct\"\n\nZGF0YQ==\n--out--\n";
  EXPECT_EQ(DisplayNames(message), (std::vector<std::string>{"notes.pdf", "acct"}));
  EXPECT_EQ(DisplayNames("Subject: plain\n\nJust text, no MIME.\n"), std::vector<std::string>{});
}

std::string SavedContent(const std::string& rawMessage, int index = 1) {
  TempDir dir;
  MaildirFixture maildir(dir / "Maildir");
  maildir.Deliver("", "cur", "1709287200.M1P1.test:2,S", rawMessage);
  FirstMessage first(maildir.Root());
  first.message->SetConvertAttachments(true);
  auto attachments = first.message->Attachments();
  attachments->Item(index)->Save(dir / "saved");
  return ReadFile(dir / "saved");
}

TEST(MaildirSource, SavesBase64ContentByteForByte) {
  std::string every(256, '\0');
  for (int i = 0; i < 256; ++i) every[static_cast<std::size_t>(i)] = static_cast<char>(i);
  const std::string cases[] = {
      std::string("CR\rCRLF\r\nLF\nNUL\0end", 20),
      "I,03/01/2024,a\r\nO,03/01/2024,b\r\n",
      "no line end at the end",
      "",
      every,
      std::string(200000, '\r') + every + std::string(70001, '\n'),  // past the read window
  };
  for (const auto& content : cases) {
    SCOPED_TRACE(content.size());
    EXPECT_EQ(SavedContent(MultipartMessage("bytes", {AttachmentPart("acct", content)})), content);
  }
}

// Stored LFs of text parts are the CR LF line breaks of the wire.
TEST(MaildirSource, SavesQuotedPrintableAndUnencodedContentWithWireLineEnds) {
  const std::string qp = MultipartMessage(
      "qp", {{{"Content-Type: text/plain; charset=iso-8859-1",
               "Content-Disposition: attachment; filename=acct",
               "Content-Transfer-Encoding: quoted-printable"},
              "I,a=3Db,=E4=0D=0AO,soft=\nbreak\n"}});
  EXPECT_EQ(SavedContent(qp), "I,a=b,\xe4\r\nO,softbreak");
  // Blanks before a line end are dropped, a soft break may have blanks after
  // its "=", escapes take either case, and an "=" that starts none stays.
  const std::string qpEdges = MultipartMessage(
      "qp edges", {{{"Content-Type: text/plain", "Content-Disposition: attachment; filename=acct",
                     "Content-Transfer-Encoding: quoted-printable"},
                    "a \t\nb= \nc=3d=ZZ=\n"}});
  EXPECT_EQ(SavedContent(qpEdges), "a\r\nbc==ZZ");
  const std::string plain = MultipartMessage(
      "7bit", {{{"Content-Type: text/plain", "Content-Disposition: attachment; filename=acct"},
                "line one\nline two\n"}});
  EXPECT_EQ(SavedContent(plain), "line one\r\nline two");
}

TEST(MaildirSource, SaveRefusesASymbolicLink) {
  TempDir dir;
  MaildirFixture maildir(dir / "Maildir");
  maildir.Deliver("", "new", "1709287200.M1P1.test",
                  MultipartMessage("m", {AttachmentPart("acct", "data")}));
  ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
  FirstMessage first(maildir.Root());
  EXPECT_THROW(first.message->Attachments()->Item(1)->Save(dir / "link"), tollbook::Failure);
  EXPECT_FALSE(testing::FileExists(dir / "target"));
}

TEST(MaildirSource, AMissingRootFailsTheLogInAndCreatesNothing) {
  TempDir dir;
  const std::string missing = dir / "no/such/Maildir";
  for (const std::string& location : {missing, "maildir:" + missing}) {
    auto session = CreateSession(location);
    try {
      session->Login("", "");
      ADD_FAILURE() << "the log-in succeeded";
    } catch (const LoginError& e) {
      EXPECT_EQ(std::string(e.what()),
                "cannot open the Maildir " + missing + ": No such file or directory");
    }
  }
  EXPECT_EQ(testing::ListFolder(dir.Path()), std::vector<std::string>{});
}

TEST(MaildirSource, ADirectoryThatIsNoMaildirFailsTheLogIn) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / "cur").c_str(), 0700), 0);
  try {
    LogIn(dir.Path());
    ADD_FAILURE() << "the log-in succeeded";
  } catch (const LoginError& e) {
    EXPECT_EQ(std::string(e.what()), "cannot open the Maildir " + dir.Path() +
                                         ": it has no new/ directory, so it is not a Maildir");
  }
  EXPECT_EQ(testing::ListFolder(dir.Path()), std::vector<std::string>{"cur"});
  testing::WriteFile(dir / "file", "");
  EXPECT_THROW(LogIn(dir / "file"), LoginError);
}

TEST(MaildirSource, DeletionRemovesExactlyTheCommittedFiles) {
  TempDir dir;
  MaildirFixture maildir(dir / "Maildir");
  const std::string message = MultipartMessage("m", {AttachmentPart("acct", "x")});
  maildir.Deliver("", "cur", "1709287201.M1P1.host:2,S", message);
  maildir.Deliver("", "new", "1709287202.M2P1.host", message);
  maildir.Deliver("", "new", "1709287203.M3P1.host", message);
  maildir.Deliver("", "cur", "1709287204.M4P1.host:2,S", message);

  auto account = LogIn(maildir.Root());
  auto messages = account->Mailbox()->Messages(true);
  messages->Next()->Delete();  // M1
  messages->Next();            // M2 stays
  auto third = messages->Next();
  third->Delete();  // M3, which another client then moves to cur/ and flags
  ASSERT_EQ(std::rename((maildir.Root() + "/new/1709287202.M2P1.host").c_str(),
                        (maildir.Root() + "/cur/1709287202.M2P1.host:2,S").c_str()), 0);
  ASSERT_EQ(std::rename((maildir.Root() + "/new/1709287203.M3P1.host").c_str(),
                        (maildir.Root() + "/cur/1709287203.M3P1.host:2,S").c_str()), 0);
  EXPECT_EQ(maildir.Files("").size(), 4u);  // marking removes nothing
  messages->CommitDeletions();
  messages->FinishDeletions();
  EXPECT_EQ(maildir.Files(""), (std::vector<std::string>{"cur/1709287202.M2P1.host:2,S",
                                                        "cur/1709287204.M4P1.host:2,S"}));
  messages->Next()->Delete();  // M4
  messages->CommitDeletions();
  messages->CommitDeletions();  // nothing marked: nothing happens
  messages->FinishDeletions();
  EXPECT_EQ(maildir.Files(""), std::vector<std::string>{"cur/1709287202.M2P1.host:2,S"});
}

TEST(MaildirSource, AFailedDeletionIsReportedAndLeavesTheRestOfItsBatch) {
  TempDir dir;
  MaildirFixture maildir(dir / "Maildir");
  const std::string message = MultipartMessage("m", {AttachmentPart("acct", "x")});
  const std::string first = maildir.Deliver("", "cur", "1709287201.M1P1.host:2,S", message);
  maildir.Deliver("", "cur", "1709287202.M2P1.host:2,S", message);
  maildir.Deliver("", "cur", "1709287203.M3P1.host:2,S", message);

  auto account = LogIn(maildir.Root());
  auto messages = account->Mailbox()->Messages(true);
  messages->Next()->Delete();
  messages->Next()->Delete();
  // Something that cannot be unlinked now stands where the first message was.
  ASSERT_EQ(std::remove(first.c_str()), 0);
  ASSERT_EQ(::mkdir(first.c_str(), 0755), 0);
  WriteFile(first + "/keep", "k");
  messages->CommitDeletions();
  try {
    messages->FinishDeletions();
    FAIL() << "the failed deletion was not reported";
  } catch (const MessageError& e) {
    EXPECT_EQ(std::string(e.what()), "cannot delete message " + first + ": Is a directory");
  }
  // Later batches are refused with the same failure; nothing more is removed.
  messages->Next()->Delete();
  EXPECT_THROW(messages->CommitDeletions(), MessageError);
  EXPECT_EQ(maildir.Files(""), (std::vector<std::string>{"cur/1709287201.M1P1.host:2,S",
                                                        "cur/1709287202.M2P1.host:2,S",
                                                        "cur/1709287203.M3P1.host:2,S"}));
}

TEST(MaildirSource, AMessageRemovedByAnotherClientIsSkipped) {
  TempDir dir;
  MaildirFixture maildir(dir / "Maildir");
  const std::string message = MultipartMessage("m", {AttachmentPart("acct", "x")});
  const std::string gone = maildir.Deliver("", "new", "1709287201.M1P1.host", message);
  maildir.Deliver("", "new", "1709287202.M2P1.host", message);
  auto account = LogIn(maildir.Root());
  auto messages = account->Mailbox()->Messages(false);
  ASSERT_EQ(std::remove(gone.c_str()), 0);
  ASSERT_EQ(std::rename((maildir.Root() + "/new/1709287202.M2P1.host").c_str(),
                        (maildir.Root() + "/cur/1709287202.M2P1.host:2,S").c_str()), 0);
  auto next = messages->Next();
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->Describe(), "cur/1709287202.M2P1.host:2,S");
  EXPECT_EQ(messages->Next(), nullptr);
}

TEST(MaildirSource, ARunDeletesExactlyTheHandledMessages) {
  TempDir dir;
  MaildirFixture maildir(dir / "Maildir");
  maildir.AddFolder("Accounting");
  const std::string lines = "I,03/01/2024,x\r\n";
  maildir.Deliver("Accounting", "cur", "1709287201.M1P1.h:2,S",
                  MultipartMessage("1", {AttachmentPart("acct", lines)}));
  maildir.Deliver("Accounting", "new", "1709287202.M2P1.h", MultipartMessage("2", {}));
  maildir.Deliver("Accounting", "new", "1709287203.M3P1.h",
                  MultipartMessage("3", {AttachmentPart("ACCT", lines)}));
  maildir.Deliver("Accounting", "cur", "1709287204.M4P1.h:2,S",
                  MultipartMessage("4", {AttachmentPart("notes", "n"), AttachmentPart("acct", lines)}));
  maildir.Deliver("Accounting", "cur", "1709287205.M5P1.h:2,S",
                  MultipartMessage("5", {AttachmentPart("acct.csv", lines)}));
  maildir.Deliver("Accounting", "cur", "1709287206.M6P1.h:2,S",
                  MultipartMessage("6", {AttachmentPart(" acct", lines)}));
  maildir.Deliver("Accounting", "new", "1709287207.M7P1.h",
                  MultipartMessage("7", {AttachmentPart("Acct", lines)}));

  auto account = LogIn(maildir.Root());
  RunState state(100);
  testing::RecordingFrontEnd frontEnd;
  frontEnd.settings.folderIndex = 2;
  frontEnd.settings.outputFolder = dir.Path();
  frontEnd.settings.fullAccountingPath = dir / "fullacct.csv";
  frontEnd.settings.summaryPath = dir / "summary.csv";
  frontEnd.settings.deleteMessages = true;
  frontEnd.settings.cleanupTempFiles = true;
  ASSERT_EQ(RunProcessing(state, *account, frontEnd), RunOutcome::kCompleted);
  EXPECT_EQ(frontEnd.failures, std::vector<std::string>{});
  EXPECT_EQ(frontEnd.boxes.back().text, "Accounting Files Processed 3");
  EXPECT_EQ(maildir.Files("Accounting"),
            (std::vector<std::string>{"cur/1709287204.M4P1.h:2,S", "cur/1709287205.M5P1.h:2,S",
                                      "cur/1709287206.M6P1.h:2,S", "new/1709287202.M2P1.h"}));
}

}  // namespace
}  // namespace tollbook::mail
