// The check session (SessionKind Check): greeting, USER, PASS, STAT, one
// TOP n 5 per message handed to subListSet, QUIT.
#pragma once

#include <cstdint>
#include <vector>

#include "monitor/mail/mail_list.h"
#include "monitor/pop3/pop3_session.h"

namespace tarvi {

// What the check sessions of a cycle leave for the cycle, per account
// 1..accountno (entry 0 unused). Counts are kept wider than the 16 bits
// they were once held in, so that no mailbox size or sum can wrap.
struct CheckTally {
  int accountIdx = 0;
  std::int64_t mailTotal = 0;
  std::vector<bool> newMailFlg{false};
  std::vector<std::int64_t> lastCount{0};
  std::vector<std::int64_t> lastSize{0};
  int noNotify = 0;

  // Keeps the entries; never shrinks below `accounts`.
  void resize(int accounts);
};

inline constexpr const char16_t* kBadStat = u"STATの応答に誤りがあります";

// The count and size of a STAT reply ("+OK", count, size), or nullopt when
// the reply does not have that form.
struct StatReply {
  std::int64_t count = 0;
  std::int64_t size = 0;
};
std::optional<StatReply> parseStat(const Text& reply);

class CheckSession : public Pop3Session {
 public:
  CheckSession(Transport& transport, CheckTally& tally, MailList& mailList);

  void onFailure(const Text& message) override;

  std::int64_t msgCount = 0;
  std::int64_t boxSize = 0;
  int topNo = 0;
  // Messages asked for: msgCount, but no more than the mail table holds.
  int fetchCount = 0;

 private:
  // sockState values of this session.
  enum : int { kGreeting = 0, kUserSent = 1, kPassSent = 3, kStatSent = 4, kTopSent = 5, kQuitSent = 6 };

  void accepted(const Text& reply) override;
  void multiLineProgress() override;
  void statReply(const Text& reply);
  void sendTop();

  CheckTally& tally_;
  MailList& mailList_;
};

}  // namespace tarvi
