// Helpers of the hardening tests: a processing run over an in-memory store
// whose outcome is kept as plain values, runs in a child process (for file-size
// limits, dropped privileges and mounts), and the check that no handled
// message was deleted without its lines in the output.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ledger/collection_recorder.h"
#include "support/memory_source.h"
#include "run/front_end.h"
#include "support/test_support.h"

namespace tollbook::testing {

// What a run left behind, apart from the files.
struct RunReport {
  bool completed = false;
  std::string failure;               // empty when completed
  std::vector<std::string> deleted;  // ids whose deletion was committed

  // One text: "completed" or "failed: MESSAGE", then "deleted: ID ID ...".
  std::string Text() const;
  static RunReport FromText(const std::string& text);
};

// A store whose mailbox holds one message per entry of `attachments`, ids
// m1, m2, ..., each with one "acct" attachment holding that text.
std::shared_ptr<mail::MemoryStore> AccountingStore(const std::vector<std::string>& attachments);

// Settings for a run writing into `folder`: fullacct.csv and summary.csv in it,
// deleting messages, with the summary, cleanup as given.
RunSettings FolderSettings(const std::string& folder, bool cleanup);

// Runs one processing run in this process, recording into recorder when given.
RunReport RunOnStore(const std::shared_ptr<mail::MemoryStore>& store, RunFrontEnd& frontEnd,
                     ledger::CollectionRecorder* recorder = nullptr);

// Runs `body` in a forked child and returns the text it produced. The child
// ends with _exit; a child that dies by a signal gives "child died by signal N".
std::string RunInChild(const std::function<std::string()>& body);

// In the calling process: drops the privilege to write where file modes
// forbid it (CAP_DAC_OVERRIDE), so that a test run as root sees EACCES.
// Returns false when that is not possible.
bool DropFileOverride();

// Mounts a tmpfs of `bytes` (read-only when asked) on the folder; false when
// this process may not mount (not root). Unmounted by the destructor.
class TmpfsMount {
 public:
  TmpfsMount(std::string folder, std::size_t bytes, bool readOnly = false);
  ~TmpfsMount();
  bool Mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

// The accounting text as the full accounting file holds it: each line
// followed by CR LF.
std::string AsMerged(const std::string& attachment);

// Every message of `deleted` has all its lines in fullacct (and, when
// scratchFolder is given, the scratch file of its number holding the
// attachment byte for byte). Returns the empty text or what is missing.
std::string LostLines(const std::vector<std::string>& attachments,
                      const std::vector<std::string>& deleted, const std::string& fullacct,
                      const std::string& scratchFolder = "");

}  // namespace tollbook::testing
