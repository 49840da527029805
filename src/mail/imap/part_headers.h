// The raw MIME headers of the parts of a chunk of IMAP messages, fetched for
// many messages per command instead of one round trip per part.
//
// The walk looks at a message's parts in a fixed order known from its
// BODYSTRUCTURE (the parts depth first, descending only into multiparts) and
// stops at the first attachment. Load() fetches, for every message of a
// chunk, the headers of the first few parts of that order (the top-level
// fields for a message that is not a multipart), grouping the messages whose
// parts are numbered alike into one UID FETCH each. A header asked for beyond
// them is fetched with the next parts of the same message, twice as many each
// time, so a message with many parts costs few round trips and never more
// headers than about twice those it needs.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "mail/imap/client.h"
#include "mail/imap/message.h"

namespace tollbook::mail {

// "1:3,7,9:10" for ascending UIDs: the UID set of an IMAP command.
std::string ImapUidSetText(const std::vector<unsigned long>& uids);

// Sends "UID FETCH uids (UID items)" on connection and calls
// store(uid, section, text) for each BODY[...] item of the answer, section
// spelt as asked without BODY.PEEK: "2", "1.2.MIME", "HEADER.FIELDS". Throws
// ImapError.
void ImapFetchSections(ImapClient& connection, const std::vector<unsigned long>& uids,
                       const std::string& items,
                       const std::function<void(const std::string& uid, const std::string& section,
                                                const std::string& text)>& store);

class ImapPartHeaders {
 public:
  using ConnectionSource = std::function<ImapClient&()>;

  // connection gives the connection on which the folder is examined; where
  // names the folder for messages.
  ImapPartHeaders(ConnectionSource connection, std::string where);

  // Forgets what was held, keeps the top-level fields of every message of
  // chunk and fetches the first part headers of each. Throws ImapError.
  void Load(const std::vector<ImapMessageInfo>& chunk);

  // The raw header of one part of the message with UID uid: section "1.2"
  // for BODY[1.2.MIME], "" for the top-level fields of ImapTopLevelFields().
  // Headers stay held until the next Load(). Throws ImapError or
  // MessageError.
  const std::string& Get(const std::string& uid, const std::string& section);

 private:
  struct Plan {
    std::vector<std::string> order;  // sections in the order the walk visits them
    std::size_t fetched = 0;         // order[0, fetched) were fetched
    std::size_t span = 0;            // how many the last fetch covered
  };

  // Fetches sections of every UID in uids into held_.
  void Fetch(const std::vector<unsigned long>& uids, const std::vector<std::string>& sections);
  // section spelt as ImapFetchSections() spells it.
  static std::string Key(const std::string& uid, const std::string& section) {
    return uid + ' ' + (section.empty() ? "HEADER.FIELDS" : section + ".MIME");
  }

  ConnectionSource connection_;
  std::string where_;
  std::string topLevelItem_;                           // BODY.PEEK[HEADER.FIELDS (...)]
  std::unordered_map<std::string, Plan> plans_;        // by UID
  std::unordered_map<std::string, std::string> held_;  // by Key()
};

}  // namespace tollbook::mail
