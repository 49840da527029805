#include "hardening/crash_harness.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "hardening/hardening_support.h"
#include "ledger/source.h"
#include "ledger/storage.h"
#include "support/test_support.h"

namespace tollbook::testing {
namespace {

std::string AccountingText(int n) {
  std::string text;
  const int lines = 1 + n % 7;
  for (int l = 1; l <= lines; ++l) {
    const std::string tag = std::to_string(n) + "-" + std::to_string(l);
    if (n % 3 == 0) {
      text += "user" + std::to_string(l % 4) + ",ACC" + tag + ",B,Subject " + tag +
              ",Normal,12/0" + std::to_string(1 + n % 5) + "/99,10:15,Mail,X400,0," +
              std::to_string(100 * l + n) + ",DOM,PO1,GDOM,GATE,1,bob,0," + (l % 2 ? "I" : "O");
    } else {
      text += std::string(l % 2 ? "I" : "O") + ",12/0" + std::to_string(1 + n % 5) +
              "/99,10:15,MSG" + tag + ",Mail,Normal,DOM,PO1,user" + std::to_string(l % 4) +
              ",ACC,Subject " + tag + ",GDOM,GATE,F,SMTP,ADDR,1,0," + std::to_string(50 * l + n) +
              ",X";
    }
    text += "\r\n";
  }
  return text;
}

std::string Message(const std::string& subject, const std::vector<std::pair<std::string, std::string>>& parts) {
  std::string m = "From: gateway@example.org\nTo: acct@example.org\nSubject: " + subject +
                  "\nDate: Wed, 01 Dec 1999 10:15:00 +0000\nMIME-Version: 1.0\n";
  if (parts.empty()) return m + "Content-Type: text/plain\n\nNothing attached.\n";
  m += "Content-Type: multipart/mixed; boundary=\"b-b-b\"\n\nPreamble.\n--b-b-b\n"
       "Content-Type: text/plain\n\nSee attachment.\n";
  for (const auto& [name, content] : parts) {
    m += "--b-b-b\nContent-Type: application/octet-stream; name=\"" + name +
         "\"\nContent-Disposition: attachment; filename=\"" + name +
         "\"\nContent-Transfer-Encoding: base64\n\n" + Base64Lines(content);
  }
  return m + "--b-b-b--\n";
}

// The contents of the ledger's stored files, each as often as it is stored,
// read through the ledger: mailbox.
std::multiset<std::string> LedgerContents(const std::string& ledger) {
  std::multiset<std::string> contents;
  if (!ledger::IsPostgresLocation(ledger) && !FileExists(ledger)) return contents;
  std::unique_ptr<mail::Account> account;
  try {
    account = ledger::CreateLedgerSession(ledger)->Login("", "");
  } catch (const mail::LoginError& e) {
    // A run killed right after creating the ledger leaves it without tables.
    if (std::string(e.what()).find("is empty: no run has recorded into it") != std::string::npos) {
      return contents;
    }
    throw;
  }
  auto messages = account->Mailbox()->Messages(false);
  TempDir scratch;
  while (auto message = messages->Next()) {
    message->Attachments()->Item(1)->Save(scratch / "file");
    contents.insert(ReadFile(scratch / "file"));
  }
  return contents;
}

std::function<std::string()> crashLedgerFactory;

}  // namespace

void SetCrashLedgerFactory(std::function<std::string()> factory) {
  crashLedgerFactory = std::move(factory);
}

std::string CrashLedger(const std::string& dir) {
  return crashLedgerFactory ? crashLedgerFactory() : dir + "/ledger.sqlite";
}

std::string CheckStoredOnce(const std::vector<CrashMessage>& messages, const std::string& ledger) {
  auto contents = LedgerContents(ledger);
  std::string problems;
  for (const auto& m : messages) {
    if (!m.accounting) continue;
    const auto count = contents.count(m.attachment);
    if (count != 1) problems += m.name + " is stored " + std::to_string(count) + " times; ";
    contents.erase(m.attachment);
  }
  if (!contents.empty()) problems += std::to_string(contents.size()) + " stored files of no message; ";
  return problems;
}

std::string Base64Lines(const std::string& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out, line;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const auto b = [&](std::size_t k) {
      return k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : 0u;
    };
    const unsigned v = (b(i) << 16) | (b(i + 1) << 8) | b(i + 2);
    line += kAlphabet[(v >> 18) & 63];
    line += kAlphabet[(v >> 12) & 63];
    line += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    line += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
    if (line.size() >= 76) {
      out += line + "\n";
      line.clear();
    }
  }
  if (!line.empty()) out += line + "\n";
  return out;
}

std::vector<CrashMessage> CrashMessages(int accounting) {
  std::vector<CrashMessage> messages;
  int index = 0;
  const auto add = [&](CrashMessage m) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d.M1P1.host", ++index);
    m.name = name;
    messages.push_back(std::move(m));
  };
  for (int n = 1; n <= accounting; ++n) {
    const std::string text = AccountingText(n);
    add({"", Message("Accounting " + std::to_string(n), {{"acct", text}}), true, text});
    if (n % 10 == 3) add({"", Message("Plain note", {}), false, ""});
    if (n % 10 == 6) {
      add({"", Message("Second is acct", {{"notes", "hello\r\n"}, {"acct", AccountingText(900 + n)}}),
           false, ""});
    }
    if (n % 10 == 9) {
      add({"", Message("Named acct.csv", {{"acct.csv", AccountingText(800 + n)}}), false, ""});
    }
  }
  return messages;
}

void WriteCrashMaildir(const std::string& path, const std::vector<CrashMessage>& messages) {
  for (const char* sub : {"cur", "new", "tmp"}) std::filesystem::create_directories(path + "/" + sub);
  for (const auto& m : messages) WriteFile(path + "/cur/" + m.name + ":2,S", m.file);
}

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& killAt, long killAfterMicros, int signal) {
  char outputPath[] = "/tmp/tollbook-crash-output-XXXXXX";
  const int outputFd = ::mkstemp(outputPath);
  ::unlink(outputPath);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(outputFd, 1);
    ::dup2(outputFd, 2);
    ::setenv("TOLLBOOK_LEDGER", "off", 0);  // never the one in the home folder
    if (killAt.empty()) {
      ::unsetenv("TOLLBOOK_KILL_AT");
    } else {
      ::setenv("TOLLBOOK_KILL_AT", killAt.c_str(), 1);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  if (killAfterMicros >= 0) {
    ::usleep(static_cast<useconds_t>(killAfterMicros));
    ::kill(pid, signal);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ProcessResult result;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.killed = result.signal == SIGKILL;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  ::lseek(outputFd, 0, SEEK_SET);
  char buffer[4096];
  for (ssize_t n; (n = ::read(outputFd, buffer, sizeof buffer)) > 0;) result.output.append(buffer, n);
  ::close(outputFd);
  return result;
}

std::vector<std::string> RemainingMessages(const std::string& maildir) {
  std::vector<std::string> names;
  for (const char* sub : {"cur", "new"}) {
    for (const auto& name : ListFolder(maildir + "/" + sub)) {
      names.push_back(name.substr(0, name.find(':')));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string CheckNothingLost(const std::vector<CrashMessage>& messages,
                             const std::string& maildir,
                             const std::vector<std::string>& outputFolders, bool cleanup,
                             const std::string& ledger) {
  const auto remaining = RemainingMessages(maildir);
  const auto stored = ledger.empty() ? std::multiset<std::string>() : LedgerContents(ledger);
  const std::set<std::string> present(remaining.begin(), remaining.end());
  struct Output {
    std::string fullacct;
    std::set<std::string> scratch;
  };
  std::vector<Output> outputs;
  for (const auto& folder : outputFolders) {
    Output output;
    const std::string fullPath = folder + "/fullacct.csv";
    if (FileExists(fullPath)) output.fullacct = ReadFile(fullPath);
    if (!cleanup && FileExists(folder)) {
      for (const auto& name : ListFolder(folder)) {
        if (name.rfind("acct ", 0) == 0) output.scratch.insert(ReadFile(folder + "/" + name));
      }
    }
    outputs.push_back(std::move(output));
  }
  std::string problems;
  for (const auto& m : messages) {
    if (present.count(m.name) != 0) {
      const std::string file = maildir + "/cur/" + m.name + ":2,S";
      if (!FileExists(file) || ReadFile(file) != m.file) problems += m.name + " was changed; ";
      continue;
    }
    if (!m.accounting) {
      problems += m.name + " (not an accounting message) is gone; ";
      continue;
    }
    const std::string merged = AsMerged(m.attachment);
    const bool kept = std::any_of(outputs.begin(), outputs.end(), [&](const Output& o) {
      return o.fullacct.find(merged) != std::string::npos &&
             (cleanup || o.scratch.count(m.attachment) != 0);
    });
    if (!kept) {
      problems += m.name + " is gone but no output folder holds its lines" +
                  (cleanup ? "" : " and its scratch file") + "; ";
    }
    if (!ledger.empty() && stored.count(m.attachment) == 0) {
      problems += m.name + " is gone but the ledger does not hold its file; ";
    }
  }
  return problems;
}

}  // namespace tollbook::testing
