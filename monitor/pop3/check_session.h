// The check session: greeting, USER, PASS, STAT, one TOP n 5 per message
// handed to listTopReplyAll (listTopReply when options.decodeAll is off),
// QUIT.
#pragma once

#include <cstdint>
#include <optional>

#include "monitor/pop3/session.h"
#include "monitor/services/charset.h"
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

class CheckSession : public Session {
 public:
  // The records may move while the session waits (the settings program
  // can change the number of accounts), so the account is held by number.
  CheckSession(const GeneralSettings& options, AccountTable& accounts, int account,
               CheckTotals& totals, CharsetConverter& charsets)
      : options_(options), accounts_(accounts), account_(account), totals_(totals),
        charsets_(charsets) {}

 private:
  enum class State { Greeting, UserSent, PassSent, StatSent, TopSent };
  void setState(State s) { state_ = s; }

  void accepted(const Text& reply) override;
  void multiLineProgress() override;
  void statReply(const Text& reply);
  void sendTop();

  const GeneralSettings& options_;
  AccountTable& accounts_;
  int account_;
  CheckTotals& totals_;
  CharsetConverter& charsets_;
  State state_ = State::Greeting;
  int topNo_ = 0;
  // Messages asked for: the count, but no more than a list holds.
  int fetchCount_ = 0;
};

}  // namespace tarvi
