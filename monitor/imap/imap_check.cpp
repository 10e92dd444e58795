#include <algorithm>

#include "common/cp932.h"
#include "monitor/imap/imap_sessions.h"
#include "monitor/mail/extract.h"
#include "monitor/state/kept_list.h"

namespace tarvi {
namespace {

const char kHeaderFields[] = "BODY.PEEK[HEADER.FIELDS (FROM SUBJECT DATE MESSAGE-ID CONTENT-TYPE)]";

bool listed(const std::vector<std::uint32_t>& sorted, std::uint32_t uid) {
  return std::binary_search(sorted.begin(), sorted.end(), uid);
}

bool hasFlag(const imap::Value* flags, std::string_view flag) {
  if (!flags || flags->kind != imap::Value::Kind::List) return false;
  return std::any_of(flags->items.begin(), flags->items.end(),
                     [&](const imap::Value& f) { return f.isAtom(flag); });
}

// The header the server sent back, whatever fields it names in the item.
const imap::Value* headerOf(const imap::Response& fetch) {
  if (fetch.values.empty() || fetch.values[0].kind != imap::Value::Kind::List) return nullptr;
  const auto& items = fetch.values[0].items;
  for (std::size_t i = 0; i + 1 < items.size(); i += 2) {
    const std::string& name = items[i].text;
    if (items[i].kind == imap::Value::Kind::Atom && name.size() >= 11 &&
        std::equal(name.begin(), name.begin() + 11, "BODY[HEADER",
                   [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; }))
      return &items[i + 1];
  }
  return nullptr;
}

}  // namespace

void ImapCheck::loggedIn() {
  examineTag_ = command("EXAMINE " + imapMailboxArgument(conn().account().folder));
  // In the same round trip: an unchanged folder costs nothing more.
  searchTag_ = command(conn().account().unseenOnly ? "UID SEARCH UNSEEN" : "UID SEARCH ALL");
}

void ImapCheck::untagged(const imap::Response& r) {
  if (r.name == "OK") {
    if (auto v = codeNumber(r.code, "UIDVALIDITY")) validity_ = *v;
  } else if (r.name == "SEARCH") {
    for (const imap::Value& v : r.values)
      if (auto uid = v.number(); uid && *uid != 0) found_.push_back(*uid);
  } else if (r.name == "FETCH" && !fetchTag_.empty()) {
    fetched(r);
  }
}

void ImapCheck::completed(const imap::Response& r) {
  if (r.tag == examineTag_) {
    if (!ok(r)) failed(refusalText(r, kImapFolderFailed));
    examined_ = ok(r);
  } else if (r.tag == searchTag_) {
    if (!examined_) return;  // the EXAMINE's failure has been reported
    if (!ok(r)) {
      failed(refusalText(r, kImapBadResponse));
      return;
    }
    decide();
  } else if (r.tag == fetchTag_) {
    if (!ok(r)) {
      failed(refusalText(r, kImapBadResponse));
      return;
    }
    finish();
  }
}

void ImapCheck::decide() {
  AccountState* rec = accounts_.find(account_);
  if (!rec || validity_ == 0) {
    if (!rec) quit();
    else failed(kImapBadResponse);  // no UIDVALIDITY: UIDs would mean nothing
    return;
  }
  AccountState& r = *rec;
  std::vector<MailItem> before;
  if (r.listedIdentity != r.identity) {
    // Nothing in memory of this folder: what an earlier run listed.
    if (lists_) before = loadKeptList(*lists_, r.identity);
    r.listedUids.clear();
    r.uidValidity = 0;
    for (const MailItem& item : before)
      if (auto id = imapUidOf(item)) {
        r.uidValidity = id->validity;
        r.listedUids.push_back(id->uid);
      }
    std::sort(r.listedUids.begin(), r.listedUids.end());
    changed_ = true;
  } else {
    before = r.mail.release();
  }
  const bool firstListing = r.uidValidity == 0 && before.empty();
  if (!firstListing && r.uidValidity != validity_) {
    // The folder was rebuilt: its UIDs name other messages now. It is
    // listed afresh, and none of it is news.
    before.clear();
    r.listedUids.clear();
    quiet_ = true;
    changed_ = true;
  }
  for (MailItem& item : before) {
    auto id = imapUidOf(item);
    if (!id || id->validity != validity_) continue;
    item.marked = false;
    item.unseen = false;
    shown_.emplace(id->uid, std::move(item));
  }
  std::sort(found_.begin(), found_.end());
  found_.erase(std::unique(found_.begin(), found_.end()), found_.end());
  // Keep the newest where a folder holds more than a list can.
  if (found_.size() > static_cast<std::size_t>(MessageList::kMaxMessages))
    found_.erase(found_.begin(), found_.end() - MessageList::kMaxMessages);
  // What went (read elsewhere, deleted) leaves the list.
  for (auto it = shown_.begin(); it != shown_.end();) {
    if (!std::binary_search(found_.begin(), found_.end(), it->first)) {
      it = shown_.erase(it);
      changed_ = true;
    } else {
      ++it;
    }
  }
  for (std::uint32_t uid : found_)
    if (!shown_.count(uid)) wanted_.push_back(uid);
  r.uidValidity = validity_;
  if (wanted_.empty()) {
    finish();
    return;
  }
  std::string set = imap::sequenceSet(wanted_);
  if (set.size() > kMaxSetText) set = std::to_string(wanted_.front()) + ":*";
  fetchTag_ = command("UID FETCH " + set + " (UID FLAGS RFC822.SIZE " + kHeaderFields + ")");
}

void ImapCheck::fetched(const imap::Response& r) {
  const imap::Value* uidValue = imap::fetchItem(r, "UID");
  const auto uid = uidValue ? uidValue->number() : std::nullopt;
  // Only what was asked for, once: a server's answers about other UIDs
  // (or the same twice) change nothing.
  if (!uid || !std::binary_search(wanted_.begin(), wanted_.end(), *uid) || shown_.count(*uid)) return;
  AccountState* rec = accounts_.find(account_);
  if (!rec) return;
  const imap::Value* header = headerOf(r);
  const std::string bytes = header && header->kind == imap::Value::Kind::String ? header->text : std::string();
  const bool seen = hasFlag(imap::fetchItem(r, "FLAGS"), "\\Seen");
  const bool isNew = !quiet_ && !listed(rec->listedUids, *uid);
  rec->listedUids.insert(std::upper_bound(rec->listedUids.begin(), rec->listedUids.end(), *uid), *uid);
  // Read on another client between the SEARCH and now.
  if (seen && conn().account().unseenOnly) return;
  MailItem item;
  if (options_.decodeAll) {
    listTopReplyAll(item, bytes, &charsets_);
  } else {
    Text text = cp932::decode(bytes);
    normalizeLineEnds(text);
    listTopReply(item, text);
  }
  Text logText = cp932::decode(bytes);
  normalizeLineEnds(logText);
  conn().log().add(logText + u"\r\n");
  item.uid = imapUidText({validity_, *uid});
  item.unseen = isNew;
  if (isNew) rec->newMail = true;
  shown_.emplace(*uid, std::move(item));
  changed_ = true;
}

void ImapCheck::finish() {
  AccountState* rec = accounts_.find(account_);
  if (!rec) {
    quit();
    return;
  }
  std::vector<MailItem> items;
  items.reserve(shown_.size());
  for (auto& [uid, item] : shown_) items.push_back(std::move(item));
  shown_.clear();
  // Only a complete listing stands for the folder: a check cut short
  // before here starts from what was kept, next time.
  rec->listedIdentity = rec->identity;
  rec->lastCount = static_cast<std::int64_t>(items.size());
  rec->lastSize = -1;
  rec->exactNew = true;
  rec->mail.assign(std::move(items));
  mailTotal_ += rec->lastCount;
  // LOGOUT first: the file is written while its answer is on the way.
  quit();
  if (lists_ && changed_) saveKeptList(*lists_, rec->identity, rec->mail);
}

}  // namespace tarvi
