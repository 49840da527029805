// The messages of one IMAP folder, walked in UID order.
//
// A reading walk opens the folder read-only (EXAMINE); a deleting one selects
// it read-write from the start (SELECT), so the walk and the deletions see
// one UIDVALIDITY. Bodies are fetched with BODY.PEEK, so \Seen is never set. It fetches UID, FLAGS
// and BODYSTRUCTURE (with the few top-level MIME header fields) for a chunk of messages at a time,
// then the MIME headers of the parts up to the first attachment, batched over the chunk
// (ImapPartHeaders), and of each message no body but its first attachment's. When one is saved, the
// first attachments of up to 100 messages from there on that are no larger than 64 KB come in one
// command per section number (whether named "acct" or not: only the run decides); a larger one
// streams from the server into the output. Whole messages are never fetched.
//
// Deletion: Delete() only notes the UID. CommitDeletions() selects the folder
// again on the account's own connection (refusing to go on when its
// UIDVALIDITY changed since the walk began), flags exactly the noted UIDs
// \Deleted and removes them with UID EXPUNGE (UIDPLUS), so a run that fails
// before its commit leaves no flag behind. A message that already carried
// \Deleted when the walk read it is left to whoever flagged it: never expunged
// by Tollbook. Without UIDPLUS, opening a folder for deletion is refused.
#pragma once

#include <memory>
#include <string>

#include "mail/imap/client.h"
#include "mail/mail_source.h"

namespace tollbook::mail {

// How many messages one batched FETCH covers.
inline constexpr std::size_t kImapFetchChunk = 1000;

// Opens the folder of a logged-in client whose mailbox name is mailbox, as the
// server spelt it in its folder list (raw bytes). name is the folder's shown
// name and server the server's shown location, both for messages. Throws
// MailError.
std::unique_ptr<MessageCollection> OpenImapMessages(std::shared_ptr<ImapClient> client,
                                                    const std::string& mailbox,
                                                    const std::string& name,
                                                    const std::string& server, bool forDeletion);

}  // namespace tollbook::mail
