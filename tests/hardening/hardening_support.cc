#include "hardening/hardening_support.h"

#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "run/processing_run.h"

namespace tollbook::testing {

std::string RunReport::Text() const {
  std::string text = completed ? "completed" : "failed: " + failure;
  text += "\ndeleted:";
  for (const auto& id : deleted) text += " " + id;
  return text;
}

RunReport RunReport::FromText(const std::string& text) {
  RunReport report;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  report.completed = line == "completed";
  if (line.rfind("failed: ", 0) == 0) report.failure = line.substr(8);
  std::getline(in, line);
  std::istringstream ids(line.substr(line.find(':') + 1));
  for (std::string id; ids >> id;) report.deleted.push_back(id);
  return report;
}

std::shared_ptr<mail::MemoryStore> AccountingStore(const std::vector<std::string>& attachments) {
  auto store = std::make_shared<mail::MemoryStore>();
  store->folders.push_back({"INBOX", {}});
  for (std::size_t i = 0; i < attachments.size(); ++i) {
    store->AddMessage("INBOX", "m" + std::to_string(i + 1), {{"acct", attachments[i]}});
  }
  return store;
}

RunSettings FolderSettings(const std::string& folder, bool cleanup) {
  RunSettings settings;
  settings.fullAccountingPath = folder + "/fullacct.csv";
  settings.summaryPath = folder + "/summary.csv";
  settings.outputFolder = folder;
  settings.deleteMessages = true;
  settings.cleanupTempFiles = cleanup;
  settings.generateSummary = true;
  return settings;
}

RunReport RunOnStore(const std::shared_ptr<mail::MemoryStore>& store, RunFrontEnd& frontEnd,
                     ledger::CollectionRecorder* recorder) {
  RunState state(1000);
  auto account = mail::CreateMemorySession(store)->Login("", "");
  RunReport report;
  report.completed = RunProcessing(state, *account, frontEnd, nullptr, recorder) == RunOutcome::kCompleted;
  auto* recording = dynamic_cast<RecordingFrontEnd*>(&frontEnd);
  if (!report.completed && recording != nullptr && !recording->failures.empty()) {
    report.failure = recording->failures.back();
  }
  report.deleted = store->deletedIds;
  return report;
}

std::string RunInChild(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const std::string text = body();
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return "child died by signal " + std::to_string(WTERMSIG(status));
  return text;
}

bool DropFileOverride() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
    data[cap / 32].effective &= ~(1u << (cap % 32));
  }
  return ::syscall(SYS_capset, &header, data) == 0;
}

TmpfsMount::TmpfsMount(std::string folder, std::size_t bytes, bool readOnly)
    : folder_(std::move(folder)) {
  if (::geteuid() != 0) return;
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0,
                     options.c_str()) == 0;
}

TmpfsMount::~TmpfsMount() {
  if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}

std::string AsMerged(const std::string& attachment) {
  std::string merged;
  std::size_t start = 0;
  for (std::size_t i = 0; i < attachment.size(); ++i) {
    if (attachment[i] != '\r') continue;
    merged.append(attachment, start, i - start).append("\r\n");
    if (i + 1 < attachment.size() && attachment[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < attachment.size()) merged.append(attachment, start).append("\r\n");
  return merged;
}

std::string LostLines(const std::vector<std::string>& attachments,
                      const std::vector<std::string>& deleted, const std::string& fullacct,
                      const std::string& scratchFolder) {
  std::string lost;
  for (const auto& id : deleted) {
    const std::size_t n = std::stoul(id.substr(1));
    const std::string& content = attachments.at(n - 1);
    if (fullacct.find(AsMerged(content)) == std::string::npos) {
      lost += id + " deleted but its lines are not in fullacct.csv; ";
    }
    if (!scratchFolder.empty()) {
      const std::string scratch = scratchFolder + "/acct " + std::to_string(n);
      if (!FileExists(scratch) || ReadFile(scratch) != content) {
        lost += id + " deleted but " + scratch + " does not hold its attachment; ";
      }
    }
  }
  return lost;
}

}  // namespace tollbook::testing
