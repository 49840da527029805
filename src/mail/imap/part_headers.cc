#include "mail/imap/part_headers.h"

#include <algorithm>
#include <map>

#include "mail/imap/fetch_items.h"
#include "mail/imap/message.h"
#include "mail/mail_source.h"

namespace tollbook::mail {
namespace {

// Headers fetched ahead for each message of a chunk: enough for a body and
// an attachment or two.
constexpr std::size_t kFirstSpan = 4;
// The most headers one follow-up fetch of a single message asks for.
constexpr std::size_t kMaxSpan = 256;

// Appends the sections below part, depth first, in the order the walk
// visits them: a part, then its sub-parts when it is a multipart.
void AppendSections(const ImapBodyPart& part, const std::string& prefix,
                    std::vector<std::string>& order) {
  for (std::size_t i = 0, n = part.parts.size(); i < n; ++i) {
    std::string section = prefix + std::to_string(i + 1);
    order.push_back(section);
    if (part.parts[i].IsMultipart()) AppendSections(part.parts[i], section + ".", order);
  }
}

}  // namespace

std::string ImapUidSetText(const std::vector<unsigned long>& uids) {
  std::string text;
  for (std::size_t i = 0; i < uids.size();) {
    std::size_t j = i;
    while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1) ++j;
    if (!text.empty()) text += ',';
    text += std::to_string(uids[i]);
    if (j > i) text += ':' + std::to_string(uids[j]);
    i = j + 1;
  }
  return text;
}

ImapPartHeaders::ImapPartHeaders(ConnectionSource connection, std::string where)
    : connection_(std::move(connection)), where_(std::move(where)) {
  std::string fields;
  for (const auto& field : ImapTopLevelFields()) fields += (fields.empty() ? "" : " ") + field;
  topLevelItem_ = "BODY.PEEK[HEADER.FIELDS (" + fields + ")]";
}

void ImapPartHeaders::Load(const std::vector<ImapMessageInfo>& chunk) {
  plans_.clear();
  held_.clear();
  // Messages whose first sections are the same, fetched together.
  std::map<std::vector<std::string>, std::vector<unsigned long>> groups;
  for (const auto& message : chunk) {
    if (message.topLevelFields) held_[Key(message.uid, "")] = *message.topLevelFields;
    if (!message.structure || !message.structure->IsMultipart()) continue;
    Plan plan;
    AppendSections(*message.structure, "", plan.order);
    plan.fetched = std::min(kFirstSpan, plan.order.size());
    plan.span = plan.fetched;
    if (plan.fetched > 0) {
      groups[std::vector<std::string>(plan.order.begin(), plan.order.begin() + plan.fetched)]
          .push_back(std::stoul(message.uid));
    }
    plans_.emplace(message.uid, std::move(plan));
  }
  for (auto& [sections, uids] : groups) {
    std::sort(uids.begin(), uids.end());
    Fetch(uids, sections);
  }
}

const std::string& ImapPartHeaders::Get(const std::string& uid, const std::string& section) {
  auto found = held_.find(Key(uid, section));
  if (found == held_.end()) {
    std::vector<std::string> sections{section};
    auto plan = plans_.find(uid);
    if (plan != plans_.end()) {
      auto& order = plan->second.order;
      const auto at = std::find(order.begin(), order.end(), section);
      if (at != order.end() &&
          static_cast<std::size_t>(at - order.begin()) >= plan->second.fetched) {
        plan->second.span = std::min(kMaxSpan, std::max<std::size_t>(1, plan->second.span * 2));
        const auto end = at + std::min<std::size_t>(plan->second.span, order.end() - at);
        sections.assign(at, end);
        plan->second.fetched = end - order.begin();
      }
    }
    Fetch({std::stoul(uid)}, sections);
    found = held_.find(Key(uid, section));
    if (found == held_.end()) {
      throw MessageError("reading part " + (section.empty() ? "0" : section) + " of UID " + uid +
                         " in " + where_ + ": the server sent no header");
    }
  }
  return found->second;
}

void ImapPartHeaders::Fetch(const std::vector<unsigned long>& uids,
                            const std::vector<std::string>& sections) {
  std::string items;
  for (const auto& section : sections) {
    if (!items.empty()) items += ' ';
    items += section.empty() ? topLevelItem_ : "BODY.PEEK[" + section + ".MIME]";
  }
  ImapFetchSections(connection_(), uids, items,
                    [this](const std::string& uid, const std::string& section,
                           const std::string& text) { held_[uid + ' ' + section] = text; });
}

void ImapFetchSections(ImapClient& connection, const std::vector<unsigned long>& uids,
                       const std::string& items,
                       const std::function<void(const std::string& uid, const std::string& section,
                                                const std::string& text)>& store) {
  const ImapAnswer answer =
      connection.Run("UID FETCH " + ImapUidSetText(uids) + " (UID " + items + ")", "UID FETCH");
  std::vector<unsigned long> asked = uids;
  std::sort(asked.begin(), asked.end());
  for (const auto& response : answer.untagged) {
    const ImapItem* attributes = FetchAttributes(response);
    if (attributes == nullptr) continue;
    const auto uid = FetchUid(*attributes);
    // Only what was asked: a server may add answers about other messages.
    if (!uid || !std::binary_search(asked.begin(), asked.end(), *uid)) continue;
    for (std::size_t i = 0; i + 1 < attributes->items.size(); i += 2) {
      const ImapItem& name = attributes->items[i];
      const ImapItem& value = attributes->items[i + 1];
      if (name.kind != ImapItem::Kind::kAtom || !(value.IsString() || value.IsNil())) continue;
      if (auto section = FetchSectionName(name.text))
        store(std::to_string(*uid), *section, value.text);
    }
  }
}

}  // namespace tollbook::mail
