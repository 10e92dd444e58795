#include "monitor/cycle/checker.h"

#include "common/app.h"
#include <algorithm>

#include "common/sign_in.h"
#include "monitor/net/address_literal.h"
#include "monitor/protocol/protocols.h"

namespace tarvi {

Text changedMailboxText(const Text& lead, const std::vector<Text>& accounts) {
  if (accounts.empty()) return {};
  Text s = lead;
  for (const Text& a : accounts) s += u"\r\n  " + a;
  return s;
}

bool isLocalHost(const Text& host) {
  Text h;
  for (char16_t c : host)
    if (c != u' ') h += static_cast<char16_t>(c >= u'A' && c <= u'Z' ? c + 32 : c);
  if (h == u"localhost") return true;
  // The loopback addresses as the transport reads them: 127.0.0.0/8 and ::1
  // ("127.example.jp" is a name like any other).
  const auto a = parseAddressLiteral(toUtf8(h), 0);
  if (!a) return false;
  if (a->family == SocketAddress::Family::V4) return a->bytes[0] == 127;
  static constexpr std::array<std::uint8_t, 16> kV6Loopback = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  return a->bytes == kV6Loopback;
}

Checker::Checker(CheckerServices services, MonitorState& state, CycleListener& listener)
    : svc_(services),
      state_(state),
      listener_(listener),
      transport_(services.sockets, services.pump, *this, log_),
      deadline_(services.timers, state.options),
      tokens_(services.tokens, services.timers),
      push_(services.pushSockets, services.pump, services.timers, [this](int a) { checkAccount(a); }) {
  push_.tokens = &tokens_;
}

void Checker::install() {
  svc_.timers.setInterval(TimerId::nextAccount, kSecond);
  svc_.timers.disable(TimerId::nextAccount);
  deadline_.install();
  svc_.timers.setInterval(TimerId::networkWait, kSecond);
  svc_.timers.disable(TimerId::networkWait);
  svc_.timers.enable(TimerId::periodicCheck);
}

void Checker::applyInterval() {
  svc_.timers.setInterval(TimerId::periodicCheck, state_.options.checkIntervalMinutes != 0 ? kMinute : 0);
}

bool Checker::onTimer(TimerId id) {
  switch (id) {
    case TimerId::periodicCheck:
      onPeriodicTick();
      return true;
    case TimerId::nextAccount:
      svc_.timers.disable(TimerId::nextAccount);
      if (retryRefused_ && run_ != Run::None) {
        retryRefused_ = false;
        deadline_.start();
        connect(remake_());
        return true;
      }
      switch (run_) {
        case Run::Check: nextCheckAccount(); break;
        case Run::Retrieve:
          if (!nextRunAccount(u"メール取得中")) finishRetrieve();
          break;
        case Run::Delete:
          if (!nextRunAccount(u"メール削除中")) finishDelete();
          break;
        case Run::None: break;
      }
      return true;
    case TimerId::sessionDeadline:
      onDeadlineTick();
      return true;
    case TimerId::pushTick:
      push_.tick();
      return true;
    case TimerId::networkWait:
      onNetworkWaitTick();
      return true;
    default:
      return false;
  }
}

void Checker::onPeriodicTick() {
  ++checkMinutes_;
  if (checkMinutes_ < state_.options.checkIntervalMinutes) return;
  svc_.timers.disable(TimerId::periodicCheck);
  periodicCheckRan_ = true;
  // Without a network every account would fail with a box of its own; the
  // accounts of a proxy on this machine are still checked.
  const bool noNetwork = offline();
  noteOffline(noNetwork);
  startCheck(noNetwork);
  checkMinutes_ = 0;
  svc_.timers.enable(TimerId::periodicCheck);
}

void Checker::resetCheck(Run next) {
  listener_.stopLamp();
  run_ = next;
  svc_.timers.disable(TimerId::nextAccount);
  transport_.abandon();
  waiting_.reset();
  retryRefused_ = false;
  totals_.mailTotal = 0;
  account_ = 0;
  only_ = 0;
  log_.text.clear();
}

void Checker::checkAll() { startCheck(false); }

void Checker::startCheck(bool onlyLocal) {
  resetCheck(Run::Check);
  onlyLocal_ = onlyLocal;
  state_.accounts.clearNewMail();
  pushed_.clear();
  nextCheckAccount();
}

bool Checker::offline() {
  return svc_.network && !listener_.dialsUp() && !svc_.network->online();
}

void Checker::noteOffline(bool noNetwork) {
  if (noNetwork == offlineShown_) return;
  offlineShown_ = noNetwork;
  listener_.offlineChanged(noNetwork);
}

void Checker::networkChanged() {
  const bool was = offlineShown_;
  noteOffline(offline());
  // The first network after none: what was passed over is checked now,
  // unless a resume is about to do it or a run is busy.
  if (!was || offlineShown_ || svc_.timers.enabled(TimerId::networkWait)) return;
  if (run_ == Run::None) checkAll();
  push_.retryWaiting();
}

void Checker::suspend() {
  push_.stopAll();
  svc_.timers.disable(TimerId::networkWait);
  if (run_ == Run::None) return;
  // Cut, not ended with QUIT: a POP3 server takes the deletions only with
  // the reply to QUIT, so a delete run cut here has deleted nothing there.
  if (Connection* c = transport_.current()) c->close();
  const Run cut = run_;
  resetCheck(Run::None);
  deadline_.stop();
  svc_.timers.enable(TimerId::periodicCheck);
  if (cut == Run::Check) return;
  if (cut == Run::Delete) deleteCut_ = true;
  listener_.retrieveFinished();
  svc_.view.setCaption(totalCaption());
  svc_.view.setBusy(false);
}

void Checker::resume() {
  // Windows tells one wake-up twice (the automatic resume, then the
  // user's); the second must not cut the check the first began.
  const auto now = svc_.timers.nowMs();
  if (now && lastResumeMs_ && *now - *lastResumeMs_ < 10 * kSecond) return;
  lastResumeMs_ = now;
  // Connections from before the sleep are dead, whatever they think.
  suspend();
  networkWaitLeft_ = 60;
  svc_.timers.enable(TimerId::networkWait);
  onNetworkWaitTick();
}

void Checker::onNetworkWaitTick() {
  // Wi-Fi comes back some seconds after the wake-up.
  if (offline() && --networkWaitLeft_ > 0) return;
  svc_.timers.disable(TimerId::networkWait);
  noteOffline(offline());
  checkAll();
  configurePush();
  if (deleteCut_) {
    deleteCut_ = false;
    svc_.dialogs.messageBox(kDeleteCutBySleep, kAppTitle, MsgButtons::Ok, MsgIcon::Exclamation);
  }
}

void Checker::checkAccount(int a) {
  if (a < 1 || a > state_.options.accountCount) return;
  if (run_ != Run::None) {
    // Told again while its check waits: one check will do.
    if (std::find(pushed_.begin(), pushed_.end(), a) == pushed_.end()) pushed_.push_back(a);
    return;
  }
  resetCheck(Run::Check);
  state_.accounts.clearNewMail();
  // The caption counts every account's mail, not only this one's.
  for (int other = 1; other <= state_.accounts.count(); ++other)
    if (other != a) totals_.mailTotal += state_.accounts.find(other)->lastCount;
  only_ = a;
  account_ = a - 1;
  nextCheckAccount();
}

void Checker::checkPushed() {
  if (run_ != Run::None || pushed_.empty()) return;
  const int a = pushed_.front();
  pushed_.erase(pushed_.begin());
  checkAccount(a);
}

void Checker::configurePush() {
  push_.tls = transport_.tls;
  push_.secrets = state_.secrets;
  push_.configure(svc_.store, state_.options.accountCount);
}

Text Checker::totalCaption() const {
  return totals_.mailTotal != 0 ? decimal(totals_.mailTotal) + kMailArrived : Text(kAppTitle);
}

bool Checker::logon(MakeDialogue make) {
  if (!listener_.mayLogon(periodicCheckRan_)) {
    deadline_.stop();
    svc_.timers.disable(TimerId::nextAccount);
    return false;
  }
  remake_ = std::move(make);
  renewed_ = false;
  retryRefused_ = false;
  connect(remake_());
  return true;
}

void Checker::failBeforeConnecting(const Text& message, bool tell) {
  if (tell) reportError(message);
  sessionFailed();
  sessionEnded();
}

void Checker::connect(std::unique_ptr<Dialogue> session) {
  if (!session) {
    // A protocol setting that is none: reported, and the cycle goes on.
    failBeforeConnecting(kProtocolDamagedText);
    return;
  }
  AccountSettings& a = state_.current;
  if (signsInWithToken(a)) {
    const auto prepared = tokens_.prepare(account_, a);
    if (prepared.ready == TokenKeeper::Ready::Waiting) {
      renewed_ = true;
      waiting_ = std::move(session);
      return;  // onTokenReply goes on; the deadline runs meanwhile
    }
    if (prepared.ready == TokenKeeper::Ready::Failed) {
      // A sign-in lost for good is told once, by the listener, whatever
      // the error-box option; the account is passed over from then on.
      const bool lost = prepared.problem == kSignInAgain;
      if (lost && prepared.firstTell) listener_.signInLost(account_);
      failBeforeConnecting(accountLabel(account_) + u": " + prepared.problem, !lost);
      return;
    }
  } else if (a.passwordUnreadable) {
    // Nothing is sent rather than an empty password the server would count
    // as a failed logon.
    failBeforeConnecting(accountLabel(account_) + u": " + kPasswordUnreadable);
    return;
  }
  log_.enabled = state_.options.keepSessionLog;
  transport_.logon(a, std::move(session));
}

void Checker::onTokenReply(std::uint32_t request, const TokenReply& reply) {
  const int a = tokens_.onReply(request, reply);
  if (a != 0 && waiting_ && a == account_ && run_ != Run::None) {
    auto session = std::move(waiting_);
    connect(std::move(session));
  }
  push_.tokenArrived(a);
}

void Checker::signInRefused() {
  // Once per logon: a token renewed for it and refused again is final.
  if (renewed_ || !signsInWithToken(state_.current)) return;
  tokens_.refused(account_);
  retryRefused_ = true;
}

void Checker::nextCheckAccount() {
  for (;;) {
    deadline_.stop();
    // The account count may have shrunk under a running cycle (the
    // settings program); the cycle then ends rather than running past the
    // accounts.
    if (account_ >= state_.options.accountCount || (only_ != 0 && account_ >= only_)) {
      finishCheck();
      return;
    }
    ++account_;
    state_.loadAccount(svc_.store, account_);
    svc_.view.setCaption(Text(kAppTitle) + u" -チェック中:" + state_.current.name + u"-");
    if (!state_.current.checked) continue;
    if (onlyLocal_ && !isLocalHost(state_.current.host)) {
      // Passed over, not emptied: its mail still counts.
      totals_.mailTotal += state_.accounts.find(account_)->lastCount;
      continue;
    }
    deadline_.start();
    logon([this] { return makeCheck(state_.current, context(), account_, totals_); });
    return;
  }
}

void Checker::finishCheck() {
  run_ = Run::None;
  onlyLocal_ = false;
  listener_.checkFinished();
  // Only the check right after a delete run keeps quiet about the
  // mailboxes that run changed.
  for (int a = 1; a <= state_.accounts.count(); ++a) state_.accounts.find(a)->quietNextCheck = false;
  svc_.timers.enable(TimerId::periodicCheck);
  only_ = 0;
  checkPushed();
}

void Checker::onDeadlineTick() {
  if (!deadline_.tick()) return;
  if (waiting_) {
    waiting_.reset();
    failBeforeConnecting(accountLabel(account_) + u": " + kTokenTimeUp);
    if (run_ != Run::Check) svc_.view.setCaption(totalCaption());
    svc_.view.setBusy(false);
    return;
  }
  const Run run = run_;
  transport_.timeUp();
  if (run != Run::Check) svc_.view.setCaption(totalCaption());
  svc_.view.setBusy(false);
}

void Checker::reportError(const Text& message) {
  // The refusal of a token that is renewed now says nothing yet.
  if (retryRefused_) return;
  if (state_.options.suppressErrorBoxes) return;
  svc_.dialogs.messageBox(message, kAppTitle, MsgButtons::Ok, MsgIcon::Critical);
}

void Checker::sessionEnded() {
  if (run_ == Run::None) return;
  if (retryRefused_) {
    // The same account again, with a renewed token, after the usual pause.
    svc_.timers.setInterval(TimerId::nextAccount, kNoSpacing);
    svc_.timers.enable(TimerId::nextAccount);
    return;
  }
  // The second between two sessions spaces the accounts of a run; after
  // the last one it has nothing to space, and the news, the viewer or the
  // fresh list should not wait for it.
  const std::uint32_t wait = workAfter(account_) ? kSecond : kNoSpacing;
  if (svc_.timers.interval(TimerId::nextAccount) != wait) svc_.timers.setInterval(TimerId::nextAccount, wait);
  svc_.timers.enable(TimerId::nextAccount);
}

bool Checker::workAfter(int a) const {
  const int last = run_ == Run::Check && only_ != 0 ? std::min<int>(only_, state_.options.accountCount)
                                                    : state_.options.accountCount;
  for (int b = a + 1; b <= last; ++b) {
    switch (run_) {
      case Run::Check: {
        // Only the two keys that decide; the whole account is read when
        // its turn comes.
        AccountSettings account;
        const Text check = u"Check" + decimal(b), host = u"Hname" + decimal(b);
        for (const BoundKey& key : accountKeys(b, account))
          if (key.def.name == check || key.def.name == host) readKey(svc_.store, key);
        if (account.checked && (!onlyLocal_ || isLocalHost(account.host))) return true;
        break;
      }
      case Run::Retrieve:
        if (nextRetrieveTarget(state_.accounts, b, 0) != 0) return true;
        break;
      case Run::Delete:
        if (nextMarked(state_.accounts, b, 0) != 0) return true;
        break;
      case Run::None: return false;
    }
  }
  return false;
}

void Checker::sessionFailed() {
  if (run_ == Run::Retrieve || run_ == Run::Delete) svc_.view.setCaption(kAppTitle);
}

// --- The runs over accounts with marked mail --------------------------------

Text Checker::accountLabel(int a) const {
  const Text name = accountName(svc_.store, a);
  return name.empty() ? decimal(a) : name;
}

void Checker::showChanged(const char16_t* lead) {
  std::vector<Text> names;
  for (int a : changed_) names.push_back(accountLabel(a));
  changed_.clear();
  const Text text = changedMailboxText(lead, names);
  if (!text.empty()) svc_.dialogs.messageBox(text, kAppTitle, MsgButtons::Ok, MsgIcon::Exclamation);
}

void Checker::retrieveMarked() {
  svc_.view.setBusy(true);
  savedCaption_ = svc_.view.caption();
  resetCheck(Run::Retrieve);
  listener_.takeMarks();
  changed_.clear();
  if (!nextRunAccount(u"メール取得中")) finishRetrieve();
}

void Checker::deleteMarked() {
  const MsgAnswer answer = svc_.dialogs.messageBox(kDeleteQuestion, kAppTitle, MsgButtons::YesNo,
                                                   MsgIcon::None, true);
  if (answer != MsgAnswer::Yes) return;
  svc_.view.setBusy(true);
  resetCheck(Run::Delete);
  listener_.takeMarks();
  changed_.clear();
  if (!nextRunAccount(u"メール削除中")) finishDelete();
}

bool Checker::nextRunAccount(const char16_t* doing) {
  const bool retrieve = run_ == Run::Retrieve;
  for (;;) {
    deadline_.stop();
    if (account_ >= state_.options.accountCount) return false;
    ++account_;
    const int a = account_;
    const bool work = retrieve ? nextRetrieveTarget(state_.accounts, a, 0) != 0
                               : nextMarked(state_.accounts, a, 0) != 0;
    if (!work) continue;
    state_.loadAccount(svc_.store, a);
    const AccountState& record = *state_.accounts.find(a);
    if (record.identity != record.listedIdentity) {
      // The account now stands for another mailbox than the one its mail
      // was listed from.
      changed_.push_back(a);
      continue;
    }
    svc_.view.setCaption(Text(kAppTitle) + u" -" + doing + u":" + accountName(svc_.store, a) + u"-");
    listener_.runAccountStarting();
    deadline_.start();
    if (retrieve)
      logon([this, a] { return makeRetrieve(state_.current, context(), a, changed_); });
    else
      logon([this, a] { return makeDelete(state_.current, context(), a, changed_, notices_); });
    return true;
  }
}

void Checker::finishRetrieve() {
  run_ = Run::None;
  listener_.retrieveFinished();
  svc_.view.setCaption(savedCaption_.empty() ? Text(kAppTitle) : savedCaption_);
  svc_.view.setBusy(false);
  showChanged(kRetrieveChanged);
  checkPushed();
}

void Checker::finishDelete() {
  checkAll();
  // Told after the check has started, so that the list is renewed while
  // the user reads.
  showChanged(kDeleteChanged);
  std::vector<Text> notices;
  notices.swap(notices_);
  for (const Text& n : notices) svc_.dialogs.messageBox(n, kAppTitle, MsgButtons::Ok, MsgIcon::Exclamation);
}

}  // namespace tarvi
