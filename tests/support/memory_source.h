// An in-memory mail store, for tests of the run and of the front ends: folders
// of messages with named attachments, and a record of what the run did to them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mail/mail_source.h"

namespace tollbook::mail {

struct MemoryAttachmentData {
  std::string displayName;
  std::string content;
};

struct MemoryMessageData {
  std::string id;  // what Describe() returns
  std::vector<MemoryAttachmentData> attachments;
  bool deleted = false;  // set when a deletion was committed
  std::string messageId, date;  // what Identity() gives besides the id
};

struct MemoryFolderData {
  std::string name;
  std::vector<MemoryMessageData> messages;
};

struct MemoryStore {
  bool remote = true;
  std::string owner = "postmaster";
  bool refuseLogin = false;  // Login() throws LoginError
  std::string location = "memory:store";  // what Account::Location() returns
  // Account::Connected(): cleared to play a dropped connection; Login() sets it.
  bool connected = true;
  int logins = 0;  // successful Login() calls
  // folders[0] is the mailbox; AllFolders() lists them all in this order.
  std::vector<MemoryFolderData> folders;

  // What happened, in order: "convert ID", "save ID PATH", "mark ID",
  // "commit", "open FOLDER [rw]".
  std::vector<std::string> events;
  // Ids whose deletion was committed, in order.
  std::vector<std::string> deletedIds;

  // Adds a message with the given attachments to the folder named folder
  // (created at the end of the list when missing).
  MemoryMessageData& AddMessage(const std::string& folder, std::string id,
                                std::vector<MemoryAttachmentData> attachments);
};

std::unique_ptr<Session> CreateMemorySession(std::shared_ptr<MemoryStore> store);

}  // namespace tollbook::mail
