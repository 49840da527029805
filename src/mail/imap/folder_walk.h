// The messages of one IMAP folder, walked in UID order.
//
// The walk reads the folder on a read-only connection (EXAMINE), so reading
// never sets \Seen. It fetches UID, FLAGS and BODYSTRUCTURE (with the few
// top-level MIME header fields) for a chunk of messages at a time, then the
// MIME headers of the parts up to the first attachment, batched over the
// chunk (ImapPartHeaders), and of each message no body but its first
// attachment's. When one is saved, the first attachments of up to 100
// messages from there on that are no larger than 64 KB come in one command
// per section number (whether named "acct" or not: only the run decides);
// a larger one streams from the server into the output. Whole messages are
// never fetched.
//
// Deletion: Delete() only notes the UID. CommitDeletions() selects the folder
// read-write on the account's own connection, flags exactly the noted UIDs
// \Deleted and removes them with UID EXPUNGE (UIDPLUS), so a run that fails
// before its commit leaves no flag behind. A message that already carried
// \Deleted when the walk read it is left to whoever flagged it: never expunged
// by Tollbook. Without UIDPLUS, opening a folder for deletion is refused.
#pragma once

#include <memory>
#include <string>
#include <vmime/net/folder.hpp>
#include <vmime/net/store.hpp>

#include "mail/mail_source.h"

namespace tollbook::mail {

// How many messages one batched FETCH covers.
inline constexpr std::size_t kImapFetchChunk = 1000;

// Opens the folder of a logged-in store whose mailbox name is mailbox, as the
// server spelt it in its folder list (raw bytes). name is the folder's shown
// name and server the server's shown location, both for messages. Throws
// MailError.
std::unique_ptr<MessageCollection> OpenImapMessages(std::shared_ptr<vmime::net::store> store,
                                                    const std::string& mailbox,
                                                    const std::string& name,
                                                    const std::string& server, bool forDeletion);

}  // namespace tollbook::mail
