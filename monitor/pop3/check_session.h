// The check session: greeting, USER, PASS, STAT, one TOP n 5 per message
// handed to listTopReplyAll (listTopReply when options.decodeAll is off),
// QUIT.
//
// The fast check (options.fastCheck, with a list store) asks UIDL after
// STAT and TOP only for the ids the account has not listed before; the
// list is rebuilt in the server's order from what was kept, in memory or,
// after a restart, in the store. Ids are trusted only once TOP n 0 of the
// message at the highest position carried over shows it is the one listed
// under its id; otherwise every message is listed anew, and only those
// never listed before count as new. Where CAPA lists PIPELINING the TOP
// requests go out in windows and their replies are read as they come. A
// server that refuses UIDL, or whose listing cannot be trusted, gets the
// dialogue above.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "monitor/pop3/session.h"
#include "monitor/services/charset.h"
#include "monitor/services/list_store.h"
#include "monitor/state/monitor_state.h"

namespace tarvi {

// What the check sessions of one cycle add up.
struct CheckTotals {
  std::int64_t mailTotal = 0;
};

inline constexpr const char16_t* kBadStat = u"STATの応答に誤りがあります";

// The count and size of a STAT reply ("+OK", count, size), or nullopt when
// the reply does not have that form.
struct StatReply {
  std::int64_t count = 0;
  std::int64_t size = 0;
};
std::optional<StatReply> parseStat(const Text& reply);

// The unique ids of messages 1..count from a UIDL reply (status line
// through the end line), index m-1 for message m; numbers past `count` are
// passed over. Nullopt when the listing cannot be trusted: a line that is
// no "number id", a number listed twice or beyond `limit`, an id listed
// twice or not of 1 to 70 characters 0x21..0x7E, a message left out.
std::optional<std::vector<std::string>> parseUidl(std::string_view reply, int count,
                                                  std::int64_t limit);
// True when a CAPA reply lists PIPELINING.
bool listsPipelining(std::string_view reply);

class CheckSession : public Session {
 public:
  // The records may move while the session waits (the settings program
  // can change the number of accounts), so the account is held by number.
  // `lists` keeps what the fast check listed; without it, or with
  // options.fastCheck off, the session has the dialogue of earlier versions.
  CheckSession(const GeneralSettings& options, AccountTable& accounts, int account,
               CheckTotals& totals, CharsetConverter& charsets, ListStore* lists = nullptr)
      : options_(options), accounts_(accounts), account_(account), totals_(totals),
        charsets_(charsets), lists_(options.fastCheck ? lists : nullptr) {}

  // Pipelined TOP requests in flight at most, and bytes of requests sent in
  // one write at most. The replies are read as they come and a write that
  // does not fit waits for room, so neither side waits on the other; a deep
  // window keeps the server answering while earlier replies travel and are
  // listed (on a first check of 10,000 messages, 256 in flight took a tenth
  // less time than 32).
  static constexpr int kWindow = 256;
  static constexpr std::size_t kWindowBytes = 4096;

 private:
  enum class State { Greeting, UserSent, PassSent, StatSent, TopSent, UidlSent, VerifySent, CapaSent, Pipelined };
  void setState(State s) { state_ = s; }

  void accepted(const Text& reply) override;
  void multiLineProgress() override;
  bool refusalHandled() override;
  void statReply(const Text& reply);
  void recordStat(AccountState& r, const StatReply& stat);
  void listingComplete();
  void sendTop();
  // The fast check.
  void uidlReply(std::string_view reply);
  // The TOP n 0 of the message at the highest position whose id was known.
  void verifyReply(std::string_view reply);
  // The ids named other messages than listed under them: all listed anew.
  void relistAll();
  // Asks for the messages not listed before (CAPA first, once).
  void fetchNew();
  // UIDL refused or not to be trusted: the dialogue of earlier versions.
  void listByNumbers();
  void startFetching();
  void sendNextTops();
  void readPipelined();
  void listed(int msgno, std::string_view reply, const std::string* uid);
  void fetchedAll();

  const GeneralSettings& options_;
  AccountTable& accounts_;
  int account_;
  CheckTotals& totals_;
  CharsetConverter& charsets_;
  State state_ = State::Greeting;
  int topNo_ = 0;
  // Messages asked for: the count, but no more than a list holds.
  int fetchCount_ = 0;

  ListStore* lists_;
  bool loadKept_ = false;     // nothing is listed of this mailbox in memory
  bool listChanged_ = false;  // the list differs from the one kept
  bool pipelining_ = false;
  bool inReply_ = false;      // a pipelined reply's status line is read
  bool capaAsked_ = false;
  std::int64_t statCount_ = 0;
  std::int64_t statSize_ = 0;
  // Messages to ask TOP for, with their ids; the next to ask and the next
  // whose reply is awaited.
  std::vector<int> toFetch_;
  std::vector<std::string> fetchUids_;
  // While the carried ids are verified: every id of the listing, and what
  // was listed before of each message (its identity), so that a mailbox
  // listed anew announces only what it never showed.
  int verifyNo_ = 0;
  std::vector<std::string> uids_;
  std::unordered_set<Text> listedBefore_;
  bool relisting_ = false;
  std::size_t nextAsk_ = 0;
  std::size_t nextReply_ = 0;
};

}  // namespace tarvi
