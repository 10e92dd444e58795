#include <algorithm>

#include "common/cp932.h"
#include "monitor/imap/imap_sessions.h"
#include "monitor/mail/extract.h"

namespace tarvi {
namespace {

// The UIDs of the account's messages that `pick` takes, each with its
// number; `validity` is the folder's UIDVALIDITY they were listed under,
// or 0 (and no UIDs) where one of them was listed under another.
template <class Pick>
std::map<std::uint32_t, int> uidsOf(const AccountTable& accounts, int a, Pick pick, std::uint32_t& validity) {
  std::map<std::uint32_t, int> out;
  const AccountState* r = accounts.find(a);
  if (!r) return out;
  validity = r->uidValidity;
  for (int m = 1; m <= r->mail.size(); ++m) {
    const MailItem& item = *r->mail.find(m);
    if (!pick(item)) continue;
    auto id = imapUidOf(item);
    if (!id || id->validity != validity) {
      validity = 0;  // a list of no known folder: nothing is asked or deleted
      return {};
    }
    out.emplace(id->uid, m);
  }
  return out;
}

}  // namespace

// --- Retrieve -----------------------------------------------------------------

void ImapRetrieve::loggedIn() {
  targets_ = uidsOf(accounts_, account_, [](const MailItem& i) { return i.marked && i.body.empty(); }, validity_);
  if (targets_.empty()) {
    quit();  // the marks went while logging in: nothing to ask for
    return;
  }
  examineTag_ = command("EXAMINE " + imapMailboxArgument(conn().account().folder));
}

void ImapRetrieve::untagged(const imap::Response& r) {
  if (r.name == "OK" && !examineTag_.empty()) {
    if (auto v = codeNumber(r.code, "UIDVALIDITY"); v && *v != validity_) validity_ = 0;
    return;
  }
  if (r.name != "FETCH" || fetchTag_.empty()) return;
  const imap::Value* uidValue = imap::fetchItem(r, "UID");
  const auto uid = uidValue ? uidValue->number() : std::nullopt;
  const imap::Value* body = imap::fetchItem(r, "BODY[]");
  if (!uid || !body || body->kind != imap::Value::Kind::String) return;
  auto at = targets_.find(*uid);
  if (at == targets_.end()) return;  // not asked for
  AccountState* rec = accounts_.find(account_);
  MailItem* item = rec ? rec->mail.find(at->second) : nullptr;
  targets_.erase(at);
  if (!item) return;
  if (options_.decodeAll) {
    storeMessageAll(*item, body->text, &charsets_);
  } else {
    Text text = cp932::decode(body->text);
    normalizeLineEnds(text);
    storeRetrieved(*item, text);
  }
  Text head = cp932::decode(body->text.substr(0, body->text.find("\r\n\r\n")));
  conn().log().add(head + u"\r\n\r\n" + item->body + u"\r\n");
}

void ImapRetrieve::completed(const imap::Response& r) {
  if (r.tag == examineTag_) {
    if (!ok(r)) {
      failed(refusalText(r, kImapFolderFailed));
      return;
    }
    if (validity_ == 0) {
      // The folder is another one now than the one listed.
      changed_.push_back(account_);
      relistQuietly(accounts_, account_);
      quit();
      return;
    }
    std::vector<std::uint32_t> uids;
    for (auto& [uid, m] : targets_) uids.push_back(uid);
    fetchTag_ = command("UID FETCH " + imap::sequenceSet(uids) + " (UID BODY.PEEK[])");
  } else if (r.tag == fetchTag_) {
    if (!ok(r)) {
      failed(refusalText(r, kImapBadResponse));
      return;
    }
    // A marked message the server no longer has.
    if (!targets_.empty()) {
      changed_.push_back(account_);
      relistQuietly(accounts_, account_);
    }
    quit();
  }
}

// --- Delete -------------------------------------------------------------------

void ImapDelete::loggedIn() {
  std::map<std::uint32_t, int> marked = uidsOf(accounts_, account_, [](const MailItem& i) { return i.marked; }, validity_);
  for (auto& [uid, m] : marked) marked_.push_back(uid);
  if (validity_ == 0) {
    gaveUp();
    return;
  }
  if (marked_.empty()) {
    quit();
    return;
  }
  if (capabilities().known) {
    step_ = Step::List;
    tag_ = command("LIST \"\" \"*\"");
  } else {
    step_ = Step::Capability;
    tag_ = command("CAPABILITY");
  }
}

void ImapDelete::untagged(const imap::Response& r) {
  if (r.name == "LIST" && step_ == Step::List && r.values.size() >= 3) {
    const imap::Value& attrs = r.values[0];
    const bool trash = attrs.kind == imap::Value::Kind::List &&
                       std::any_of(attrs.items.begin(), attrs.items.end(),
                                   [](const imap::Value& a) { return a.isAtom("\\Trash"); });
    if (trash && trash_.empty() && r.values[2].kind != imap::Value::Kind::List)
      trash_ = r.values[2].text;
  } else if (r.name == "OK" && step_ == Step::Select) {
    if (auto v = codeNumber(r.code, "UIDVALIDITY"); v && *v != validity_) validity_ = 0;
  } else if (r.name == "SEARCH" && step_ == Step::Search) {
    for (const imap::Value& v : r.values)
      if (auto uid = v.number()) present_.push_back(*uid);
  }
}

void ImapDelete::gaveUp() {
  // The folder is not the one listed, or a marked message has gone:
  // nothing is deleted, and the list is made anew.
  changed_.push_back(account_);
  relistQuietly(accounts_, account_);
  quit();
}

void ImapDelete::select() {
  step_ = Step::Select;
  tag_ = command("SELECT " + imapMailboxArgument(conn().account().folder));
}

void ImapDelete::remove() {
  const std::string set = imap::sequenceSet(marked_);
  const ImapCapabilities& c = capabilities();
  step_ = Step::Remove;
  if (c.move && !trash_.empty() && trash_ != cp932::encode(conn().account().folder)) {
    auto name = imap::quoted(trash_);
    moved_ = true;
    tag_ = command("UID MOVE " + set + " " + name.value_or("\"Trash\""));
  } else {
    tag_ = command("UID STORE " + set + " +FLAGS.SILENT (\\Deleted)");
  }
}

void ImapDelete::completed(const imap::Response& r) {
  if (r.tag != tag_) return;
  switch (step_) {
    case Step::Capability:
      step_ = Step::List;
      tag_ = command("LIST \"\" \"*\"");
      return;
    case Step::List:
      select();  // a server without LIST still has its folder
      return;
    case Step::Select:
      if (!ok(r)) {
        failed(refusalText(r, kImapFolderFailed));
        return;
      }
      if (validity_ == 0) {
        gaveUp();
        return;
      }
      step_ = Step::Search;
      tag_ = command("UID SEARCH UID " + imap::sequenceSet(marked_));
      return;
    case Step::Search: {
      std::sort(present_.begin(), present_.end());
      const bool all = ok(r) && std::all_of(marked_.begin(), marked_.end(), [&](std::uint32_t u) {
                         return std::binary_search(present_.begin(), present_.end(), u);
                       });
      if (!all) {
        gaveUp();
        return;
      }
      remove();
      return;
    }
    case Step::Remove:
      if (!ok(r)) {
        failed(refusalText(r, kImapBadResponse));
        return;
      }
      relistQuietly(accounts_, account_);
      if (!moved_) {
        if (capabilities().uidPlus) {
          // Only the UIDs marked: a plain EXPUNGE would also take what
          // another client flagged.
          step_ = Step::Expunge;
          tag_ = command("UID EXPUNGE " + imap::sequenceSet(marked_));
          return;
        }
        notices_.push_back(kImapDeletedOnly);
      }
      quit();
      return;
    case Step::Expunge:
      if (!ok(r)) {
        failed(refusalText(r, kImapBadResponse));
        return;
      }
      quit();
      return;
  }
}

// --- Push ---------------------------------------------------------------------

void ImapIdle::loggedIn() {
  if (capabilities().known) {
    examine();
  } else {
    step_ = Step::Capability;
    tag_ = command("CAPABILITY");
  }
}

void ImapIdle::examine() {
  if (!capabilities().idle) {
    listener_.noIdle(account_);
    quit();
    return;
  }
  step_ = Step::Examine;
  tag_ = command("EXAMINE " + imapMailboxArgument(conn().account().folder));
}

void ImapIdle::idle() {
  step_ = Step::Idle;
  idling_ = false;
  tag_ = command("IDLE");
}

void ImapIdle::renew() {
  if (step_ != Step::Idle || !idling_ || over() || quitSent()) return;
  step_ = Step::Done;
  sendRaw("DONE");
}

void ImapIdle::continuation(const imap::Response&) {
  if (step_ != Step::Idle || idling_) return;
  idling_ = true;
  listener_.idling(account_);
}

void ImapIdle::untagged(const imap::Response& r) {
  if (step_ == Step::Capability || step_ == Step::Examine) return;
  // RECENT comes with the EXISTS of the same mail: one check is enough.
  if (r.name == "EXISTS" || r.name == "EXPUNGE" || r.name == "FETCH") listener_.folderChanged(account_);
}

void ImapIdle::completed(const imap::Response& r) {
  if (r.tag != tag_) return;
  switch (step_) {
    case Step::Capability: examine(); return;
    case Step::Examine:
      if (!ok(r)) {
        failed(refusalText(r, kImapFolderFailed));
        return;
      }
      idle();
      return;
    case Step::Idle:
    case Step::Done:
      if (!ok(r)) {
        failed(refusalText(r, kImapBadResponse));
        return;
      }
      idle();
      return;
  }
}

}  // namespace tarvi
