// The delete run (SessionKind Delete): after the user's consent, for every
// account with marked messages one connection with USER, PASS, DELE per
// marked message in ascending order, QUIT; then a fresh check of all
// accounts. Before the first DELE the session makes sure the server still
// numbers its messages as the list does, so that no other message is lost.
#pragma once

#include <vector>

#include "monitor/pop3/retrieve_session.h"

namespace tarvi {

inline constexpr const char16_t* kDeleteQuestion =
    u"○の付いたメールを削除します" u"\r\n" u"よろしいですか？";
inline constexpr const char16_t* kDeleteChanged =
    u"前回のﾁｪｯｸ後にｻｰﾊﾞのﾒｰﾙが変わったため、次のｱｶｳﾝﾄのﾒｰﾙは削除しませんでした"
    u"\r\n一覧を更新しますので、もう一度選択してください";

class DeleteSession : public Pop3Session {
 public:
  static constexpr std::uint32_t kDelInterval = 1000;

  // sockState values of this session.
  enum : int {
    kGreeting = 0,
    kUserSent = 1,
    kDeleMore = 3,  // PASS or a DELE sent; another DELE follows
    kDeleLast = 6,  // the last DELE (or a QUIT of the transport) sent
    kQuitSent = 7,
    kStatSent = 8,  // the numbering is being checked: STAT, then
    kTopSent = 9,   // TOP n 5 of every marked message
  };

  DeleteSession(MailForm& form, Transport& transport, CheckCycle& cycle, CheckTally& tally,
                MailList& mailList);

  // The deltimer and this handler of the transport.
  void install();

  void DelBt_Click();
  void nextDelete();
  void deltimer_Timer();

  void onFailure(const Text& message) override;

  RunHooks hooks;
  int reqNo = 0;
  std::vector<Text> changedAccounts;

 private:
  int nextMarked(int after) const;
  void accepted(const Text& reply) override;
  void multiLineProgress() override;
  void statReply(const Text& reply);
  void sendTop();
  void sendDele();
  void mailboxChanged();
  void finishRun();

  MailForm& form_;
  CheckCycle& cycle_;
  CheckTally& tally_;
  MailList& mailList_;
  int verifyNo_ = 0;
  bool verified_ = false;
  bool quitAfterFailure_ = false;
};

}  // namespace tarvi
