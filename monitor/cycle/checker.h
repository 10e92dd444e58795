// The check cycle and the runs over accounts with marked mail: every
// enabled account in turn, each session under a time limit, one second
// between two sessions. Only one run is current at a time (a check, a
// retrieve run or a delete run); whatever a run that was replaced still
// does on its way out moves nothing of the current one.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "common/store.h"
#include "monitor/cycle/deadline.h"
#include "monitor/cycle/push.h"
#include "monitor/cycle/tokens.h"
#include "monitor/net/transport.h"
#include "monitor/protocol/protocols.h"
#include "monitor/services/charset.h"
#include "monitor/services/list_store.h"
#include "monitor/services/network_state.h"
#include "monitor/services/services.h"
#include "monitor/state/monitor_state.h"

namespace tarvi {

// What the cycle and the runs ask of the popup, the alerts and the line.
class CycleListener {
 public:
  virtual ~CycleListener() = default;
  // The lamp stops when a check or a run starts.
  virtual void stopLamp() = 0;
  // Asked before every logon (the dial-up rules); false abandons it.
  virtual bool mayLogon(bool periodicCheckRan) = 0;
  // A check of all accounts is over: list, caption, alerts, line.
  virtual void checkFinished() = 0;
  // A retrieve or delete run begins, nothing renumbers the list any more:
  // the marks go to the messages the marked rows show.
  virtual void takeMarks() = 0;
  // A retrieve or delete session is about to start: the popup's buttons
  // and list are greyed while it works.
  virtual void runAccountStarting() = 0;
  // The retrieve run is over: marks cleared, list usable again.
  virtual void retrieveFinished() = 0;
  // The provider refused account a's sign-in for good: the user is told,
  // once, to sign in again.
  virtual void signInLost(int /*a*/) {}
  // No network is up (periodic checks pass over the accounts that need
  // one), or one is up again.
  virtual void offlineChanged(bool /*offline*/) {}
  // A dial-up entry is chosen: the dial-up rules, not the network state,
  // decide whether a check may go out.
  virtual bool dialsUp() { return false; }
};

inline constexpr const char16_t* kMailArrived = u"通のメールが届いています!";
inline constexpr const char16_t* kDeleteQuestion =
    u"○の付いたメールを削除します" u"\r\n" u"よろしいですか？";
inline constexpr const char16_t* kRetrieveChanged =
    u"前回のﾁｪｯｸ後にｻｰﾊﾞのﾒｰﾙが変わったため、次のｱｶｳﾝﾄのﾒｰﾙは取得しませんでした"
    u"\r\nﾒｰﾙﾁｪｯｸの後でもう一度選択してください";
inline constexpr const char16_t* kDeleteChanged =
    u"前回のﾁｪｯｸ後にｻｰﾊﾞのﾒｰﾙが変わったため、次のｱｶｳﾝﾄのﾒｰﾙは削除しませんでした"
    u"\r\n一覧を更新しますので、もう一度選択してください";

// The names of the accounts whose mailbox no longer matched the list, one
// per line, after `lead`; empty when there is none.
Text changedMailboxText(const Text& lead, const std::vector<Text>& accounts);

struct CheckerServices {
  SettingsStore& store;
  Timers& timers;
  Pump& pump;
  Dialogs& dialogs;
  MainView& view;
  SocketApi& sockets;
  CharsetConverter& charsets;
  ListStore& lists;  // what the fast check listed, kept across restarts
  SocketApi& pushSockets;  // where the push connections are made
  TokenService* tokens = nullptr;  // renews the access tokens of signed-in accounts
  NetworkState* network = nullptr;  // without it the machine is always online
};

inline constexpr const char16_t* kTokenTimeUp = u"ｻｲﾝｲﾝ先からｱｸｾｽﾄｰｸﾝが届かないうちに時間切れになりました";
inline constexpr const char16_t* kDeleteCutBySleep =
    u"ｽﾘｰﾌﾟに入ったため、ﾒｰﾙの削除を途中で中止しました"
    u"\r\n一覧を更新しますので、もう一度選択してください";
// True for a host on this machine (a local proxy), reachable without a network.
bool isLocalHost(const Text& host);

class Checker : private TransportEvents {
 public:
  static constexpr std::uint32_t kMinute = 60000;
  static constexpr std::uint32_t kSecond = 1000;
  // The wait where there is nothing to space: a run's end, a renewed token.
  static constexpr std::uint32_t kNoSpacing = 10;

  enum class Run { None, Check, Retrieve, Delete };

  Checker(CheckerServices services, MonitorState& state, CycleListener& listener);

  // Timer intervals; the periodic check runs from now on.
  void install();
  // The periodic timer follows the interval setting (60 s, or stopped).
  void applyInterval();

  // A check of every enabled account.
  void checkAll();
  // A check of one account (its server told of a change), now or, while a
  // run goes on, once it is over.
  void checkAccount(int a);
  // The push connections follow the settings; stopPush ends them.
  void configurePush();
  void stopPush() { push_.stopAll(); }
  const PushKeeper& push() const { return push_; }
  // The popup's buttons.
  void retrieveMarked();
  void deleteMarked();
  void resetMailTotal() { totals_.mailTotal = 0; }

  // The machine goes to sleep: whatever runs is cut without QUIT (a POP3
  // server deletes nothing then) and the push connections end.
  void suspend();
  // It woke up: the connections left are dropped, and once a network is
  // up (a minute at most) every account is checked and push reopens.
  void resume();
  // The system says the networks changed.
  void networkChanged();
  // No network, and no dial-up that would make one.
  bool offline();
  // A reply of the sign-in provider (TokenService).
  void onTokenReply(std::uint32_t request, const TokenReply& reply);
  TokenKeeper& tokens() { return tokens_; }

  // The timers of the cycle; false for any other timer.
  bool onTimer(TimerId id);
  // A socket notification.
  void onNotify(SocketHandle sock, std::uint32_t tag, int error, int event) {
    transport_.onNotify(sock, tag, error, event);
    push_.onNotify(sock, tag, error, event);
  }

  Run run() const { return run_; }
  int account() const { return account_; }
  std::int64_t mailTotal() const { return totals_.mailTotal; }
  const Text& sessionLog() const { return log_.text; }
  Text totalCaption() const;
  Transport& transport() { return transport_; }

 private:
  // TransportEvents
  void reportError(const Text& message) override;
  void sessionEnded() override;
  void sessionFailed() override;
  void activity() override { deadline_.activity(); }
  void signInRefused() override;

  // Stops whatever runs: the old connection is asked to QUIT and is no
  // longer anybody's to hand on, a move to the next account already due
  // is cancelled, the counters start again.
  void resetCheck(Run next);
  void onPeriodicTick();
  void onNetworkWaitTick();
  // A check of every enabled account; `onlyLocal` passes over those that
  // need a network (their last counts stand).
  void startCheck(bool onlyLocal);
  void noteOffline(bool offline);
  void onDeadlineTick();
  void nextCheckAccount();
  void finishCheck();
  // Moves on to the next account with work for the run and logs on to it;
  // false when no account is left.
  bool nextRunAccount(const char16_t* doing);
  void finishRetrieve();
  void finishDelete();
  // True when the run has another account to log on to after account `a`.
  bool workAfter(int a) const;
  using MakeDialogue = std::function<std::unique_ptr<Dialogue>()>;
  // Logs on to the current account with the dialogue `make` gives (made
  // again when a refused token is renewed).
  bool logon(MakeDialogue make);
  // The logon itself, once the dial-up rules allowed it: a token account
  // may first wait for its token.
  void connect(std::unique_ptr<Dialogue> session);
  // Ends the current account's session before it connected.
  void failBeforeConnecting(const Text& message, bool tell = true);
  DialogueContext context() { return {state_.options, state_.accounts, svc_.charsets, &svc_.lists}; }
  Text accountLabel(int a) const;
  void showChanged(const char16_t* lead);

  CheckerServices svc_;
  MonitorState& state_;
  CycleListener& listener_;
  SessionLog log_;
  Transport transport_;
  SessionDeadline deadline_;
  CheckTotals totals_;
  Run run_ = Run::None;
  int account_ = 0;
  int checkMinutes_ = 0;
  bool periodicCheckRan_ = false;
  Text savedCaption_;
  std::vector<int> changed_;  // accounts left alone by the run
  std::vector<Text> notices_;  // what the delete run has to tell
  TokenKeeper tokens_;
  MakeDialogue remake_;
  std::unique_ptr<Dialogue> waiting_;  // the logon waits for its token
  bool renewed_ = false;  // this logon renewed its token: a refusal is final
  bool retryRefused_ = false;  // the token was refused; the logon is tried again
  PushKeeper push_;
  int only_ = 0;                 // the one account a push check is of
  std::vector<int> pushed_;      // accounts to check once the run is over
  bool onlyLocal_ = false;       // this check passes over accounts that need a network
  bool offlineShown_ = false;    // the listener was told there is no network
  int networkWaitLeft_ = 0;      // seconds a resume still waits for a network
  bool deleteCut_ = false;       // a delete run was cut by the sleep
  std::optional<std::uint64_t> lastResumeMs_;
  void checkPushed();
};

}  // namespace tarvi
