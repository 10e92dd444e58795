// The IMAP dialogues of the monitor.
//
// Check: EXAMINE (read-only: a check never changes the folder) and UID
// SEARCH UNSEEN (or ALL) in one round trip, then headers only of the
// messages never listed before, all in one UID FETCH; an unchanged folder
// costs no FETCH at all. What was listed is kept across restarts like the
// POP3 fast check's list; a changed UIDVALIDITY forgets it and lists the
// folder afresh without announcing it as new.
//
// Retrieve: the whole message by BODY.PEEK[], so reading it never marks it
// read on the server. Delete: the marked UIDs only, after UIDVALIDITY and
// the UIDs are found as listed; UID MOVE to the \Trash folder where the
// server can, else \Deleted and UID EXPUNGE (UIDPLUS), else \Deleted alone.
//
// Push: logs on, EXAMINEs the folder and waits in IDLE; whatever the server
// says of the folder there is handed to a listener, which checks the
// account; the idle is renewed before the server's 30 minutes run out.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "monitor/imap/imap_dialogue.h"
#include "monitor/services/charset.h"
#include "monitor/services/list_store.h"
#include "monitor/state/monitor_state.h"

namespace tarvi {

inline constexpr const char16_t* kImapDeletedOnly =
    u"ｻｰﾊﾞがﾒｰﾙの移動も完全な削除もできないため、削除の印だけを付けました";

class ImapCheck : public ImapDialogue {
 public:
  ImapCheck(const GeneralSettings& options, AccountTable& accounts, int account, std::int64_t& mailTotal,
            CharsetConverter& charsets, ListStore* lists)
      : options_(options), accounts_(accounts), account_(account), mailTotal_(mailTotal),
        charsets_(charsets), lists_(lists) {}

  // A UID set longer than this is asked as "first:*" instead, and what
  // was not asked for is passed over.
  static constexpr std::size_t kMaxSetText = 1000;

 private:
  void loggedIn() override;
  void completed(const imap::Response& r) override;
  void untagged(const imap::Response& r) override;
  void decide();
  void fetched(const imap::Response& r);
  void finish();

  const GeneralSettings& options_;
  AccountTable& accounts_;
  int account_;
  std::int64_t& mailTotal_;
  CharsetConverter& charsets_;
  ListStore* lists_;
  std::string examineTag_, searchTag_, fetchTag_;
  std::uint32_t validity_ = 0;
  bool examined_ = false;
  std::vector<std::uint32_t> found_;         // what the SEARCH found
  std::map<std::uint32_t, MailItem> shown_;  // the list being made, by UID
  std::vector<std::uint32_t> wanted_;        // UIDs asked for (sorted)
  bool quiet_ = false;                       // nothing of this listing is news
  bool changed_ = false;                     // differs from what was kept
};

class ImapRetrieve : public ImapDialogue {
 public:
  ImapRetrieve(const GeneralSettings& options, AccountTable& accounts, int account, std::vector<int>& changed,
               CharsetConverter& charsets)
      : options_(options), accounts_(accounts), account_(account), changed_(changed), charsets_(charsets) {}

 private:
  void loggedIn() override;
  void completed(const imap::Response& r) override;
  void untagged(const imap::Response& r) override;

  const GeneralSettings& options_;
  AccountTable& accounts_;
  int account_;
  std::vector<int>& changed_;
  CharsetConverter& charsets_;
  std::string examineTag_, fetchTag_;
  std::uint32_t validity_ = 0;
  std::map<std::uint32_t, int> targets_;  // UID -> message number
};

class ImapDelete : public ImapDialogue {
 public:
  // `notice` gets the words for the user when the server could only flag
  // the messages.
  ImapDelete(AccountTable& accounts, int account, std::vector<int>& changed, std::vector<Text>& notices)
      : accounts_(accounts), account_(account), changed_(changed), notices_(notices) {}

 private:
  enum class Step { Capability, List, Select, Search, Remove, Expunge };
  void loggedIn() override;
  void completed(const imap::Response& r) override;
  void untagged(const imap::Response& r) override;
  void select();
  void remove();
  void gaveUp();

  AccountTable& accounts_;
  int account_;
  std::vector<int>& changed_;
  std::vector<Text>& notices_;
  Step step_ = Step::Capability;
  std::string tag_;
  std::string trash_;  // the \Trash folder as the server names it
  std::uint32_t validity_ = 0;
  std::vector<std::uint32_t> marked_;  // sorted
  std::vector<std::uint32_t> present_;
  bool moved_ = false;  // UID MOVE was asked: nothing is left to expunge
};

// What a push connection reports.
class PushListener {
 public:
  virtual ~PushListener() = default;
  // The folder changed (a message came, went or changed its flags).
  virtual void folderChanged(int account) = 0;
  // The connection is idling: the server offers IDLE and took it.
  virtual void idling(int account) = 0;
  // The server does not offer IDLE: the account is checked by the cycle.
  virtual void noIdle(int account) = 0;
};

class ImapIdle : public ImapDialogue {
 public:
  ImapIdle(int account, PushListener& listener) : account_(account), listener_(listener) {}

  // Ends the idle and starts another (before the server's 30 minutes).
  void renew() override;

 private:
  enum class Step { Capability, Examine, Idle, Done };
  void loggedIn() override;
  void completed(const imap::Response& r) override;
  void untagged(const imap::Response& r) override;
  void continuation(const imap::Response& r) override;
  void examine();
  void idle();

  int account_;
  PushListener& listener_;
  Step step_ = Step::Capability;
  std::string tag_;
  bool idling_ = false;
};

}  // namespace tarvi
