// Times Tollbook's IMAP walk of one folder (structure, part headers up to the
// first attachment, then only the "acct" bodies) against fetching every whole
// message of the same folder. Prints both figures, each with the client's
// own CPU time beside it (the rest is the server and the wait for it);
// asserts nothing. Each is timed in two rounds, alternating, and the faster
// round is shown: the first access to a freshly filled folder makes the
// server build its index and cache, which would otherwise count against
// whichever goes first.
//
//   tollbook-bench-imap-walk URL FOLDER
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "accounting/run_state.h"
#include "mail/imap/client.h"
#include "mail/imap/folder_names.h"
#include "mail/imap/netrc.h"
#include "mail/imap/url.h"
#include "mail/session_factory.h"
#include "run/processing_run.h"

namespace {

class QuietFrontEnd : public tollbook::RunFrontEnd {
 public:
  tollbook::RunSettings settings;
  tollbook::RunSettings ReadSettings() override { return settings; }
  void SetProgressCaption(std::string_view) override {}
  void SetCurrentCaption(std::string_view) override {}
  void ShowMessageBox(const tollbook::MessageBoxRequest&) override {}
  void SetBusyPointer(bool) override {}
  void ReportRunFailure(std::string_view message) override {
    std::fprintf(stderr, "run failed: %.*s\n", static_cast<int>(message.size()), message.data());
  }
};

// Discards the whole messages it is given, counting the bytes.
class CountingSink : public tollbook::mail::ImapLiteralSink {
 public:
  std::size_t bytes = 0;
  bool Wants(std::string_view item) override { return item == "BODY[]"; }
  void Write(const char*, std::size_t size) override { bytes += size; }
};

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// This process's CPU time so far, in seconds.
double CpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s URL FOLDER\n", argv[0]);
    return 2;
  }
  const std::string url = argv[1], folderName = argv[2];
  try {
    double walk = 1e30, whole = 1e30, walkCpu = 0, wholeCpu = 0;
    tollbook::RunCounts counts;
    auto outcome = tollbook::RunOutcome::kCompleted;
    std::size_t count = 0;
    CountingSink sink;
    for (int round = 0; round < 2; ++round) {
      // Tollbook's walk: the whole processing run into a scratch folder.
      char outTemplate[] = "/tmp/tollbook-bench-XXXXXX";
      const std::string out = ::mkdtemp(outTemplate);
      auto account = tollbook::mail::CreateSession(url)->Login("", "");
      int position = -1;
      auto folders = account->AllFolders();
      for (int i = 1; i <= folders->Count(); ++i) {
        if (folders->Item(i)->Name() == folderName) position = i;
      }
      QuietFrontEnd frontEnd;
      frontEnd.settings = {out + "/fullacct.csv",
                           out + "/summary.csv",
                           position,
                           out,
                           false,
                           false,
                           true,
                           true,
                           "",
                           ""};
      tollbook::RunState state{200000};
      counts = {};
      auto start = std::chrono::steady_clock::now();
      double cpu = CpuSeconds();
      outcome = tollbook::RunProcessing(state, *account, frontEnd, &counts);
      if (const double t = Seconds(std::chrono::steady_clock::now() - start); t < walk) {
        walk = t;
        walkCpu = CpuSeconds() - cpu;
      }
      std::filesystem::remove_all(out);

      // Whole messages: one FETCH for the UIDs, then BODY.PEEK[] per message.
      tollbook::mail::ImapUrl location = tollbook::mail::ParseImapUrl(url);
      tollbook::mail::CompleteImapCredentials(location, tollbook::mail::DefaultNetrcPath());
      tollbook::mail::ImapClient client(location, tollbook::mail::ImapTimeoutSeconds());
      client.LogIn(location.password);
      const auto examined = client.Run(
          "EXAMINE " + tollbook::mail::ImapMailboxArgument(folderName, client.Has("LITERAL+")),
          "EXAMINE");
      start = std::chrono::steady_clock::now();
      cpu = CpuSeconds();
      count = 0;
      for (const auto& response : examined.untagged) {
        if (response.items.size() == 2 && response.items[1].Is("EXISTS")) {
          count = static_cast<std::size_t>(response.items[0].Number().value_or(0));
        }
      }
      sink.bytes = 0;
      if (count > 0) {
        std::vector<std::string> uids;
        for (const auto& response :
             client.Run("FETCH 1:" + std::to_string(count) + " (UID)", "FETCH").untagged) {
          if (response.items.size() == 3 && response.items[2].IsList() &&
              response.items[2].items.size() == 2) {
            uids.push_back(response.items[2].items[1].text);
          }
        }
        for (const auto& uid : uids)
          client.Run("UID FETCH " + uid + " BODY.PEEK[]", "UID FETCH", &sink);
      }
      if (const double t = Seconds(std::chrono::steady_clock::now() - start); t < whole) {
        whole = t;
        wholeCpu = CpuSeconds() - cpu;
      }
      client.LogOut();
    }

    std::printf("folder %s: %lld messages, %lld accounting files%s\n", folderName.c_str(),
                static_cast<long long>(counts.messages),
                static_cast<long long>(counts.accountingFiles),
                outcome == tollbook::RunOutcome::kCompleted ? "" : " (run FAILED)");
    std::printf("  Tollbook walk (whole run):   %7.2f s  (client CPU %.2f s)\n", walk, walkCpu);
    std::printf(
        "  whole-message fetch only:    %7.2f s  (client CPU %.2f s; %zu messages, %.1f MB)\n",
        whole, wholeCpu, count, sink.bytes / 1e6);
    return outcome == tollbook::RunOutcome::kCompleted ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
