#include "monitor/cycle/push.h"

#include <algorithm>
#include <utility>

#include "common/kept_list_name.h"
#include "common/sign_in.h"

namespace tarvi {

int reconnectPause(int failures) {
  int pause = 5;
  for (int i = 0; i < failures && pause < 600; ++i) pause *= 2;
  return std::min(pause, 600);
}

struct PushKeeper::Slot : TransportEvents, PushListener {
  enum class State { Waiting, TokenWait, Opening, Idling, Renewing, NoPush };

  Slot(PushKeeper& keeper, int a, const AccountSettings& settings, std::uint32_t firstTag)
      : keeper(keeper), account(a), settings(settings),
        transport(keeper.sockets_, keeper.pump_, *this, log, firstTag) {}

  // TransportEvents: a push connection is quiet about its failures; it
  // tries again after its pause.
  void reportError(const Text&) override {}
  void sessionFailed() override { failed = true; }
  void signInRefused() override {
    if (keeper.tokens) keeper.tokens->refused(account);
  }
  void sessionEnded() override {
    if (state == State::NoPush) return;
    // Every ending waits longer than the one before, until an idle has
    // held (tick): a server that takes the idle and drops it at once is
    // tried no more often than one that refuses.
    dueAt = keeper.now_ + static_cast<std::uint64_t>(reconnectPause(failures));
    ++failures;
    failed = false;
    state = State::Waiting;
  }

  // PushListener
  void folderChanged(int a) override { keeper.folderChanged_(a); }
  void idling(int) override {
    if (state == State::Idling) return;
    // The renewed idle is no news; the first one after a connection is
    // (mail may have come while there was none).
    const bool reopened = state == State::Opening;
    state = State::Idling;
    since = keeper.now_;
    if (reopened && everIdled) keeper.folderChanged_(account);
    everIdled = true;
  }
  void noIdle(int) override { state = State::NoPush; }

  PushKeeper& keeper;
  int account;
  AccountSettings settings;
  SessionLog log;
  Transport transport;
  State state = State::Waiting;
  std::uint64_t dueAt = 0;
  std::uint64_t since = 0;  // when the current stage began
  int failures = 0;
  bool failed = false;
  bool everIdled = false;
};

PushKeeper::PushKeeper(SocketApi& sockets, Pump& pump, Timers& timers, std::function<void(int)> folderChanged)
    : sockets_(sockets), pump_(pump), timers_(timers), folderChanged_(std::move(folderChanged)) {}

PushKeeper::~PushKeeper() = default;

void PushKeeper::configure(const SettingsStore& store, int accountCount) {
  std::vector<std::shared_ptr<Slot>> kept;
  for (int a = 1; a <= accountCount; ++a) {
    AccountSettings settings;
    loadAccount(store, a, settings, secrets);
    if (!pushes(settings)) continue;
    // A connection that still stands for this account's mailbox stays.
    auto same = std::find_if(slots_.begin(), slots_.end(), [&](const std::shared_ptr<Slot>& s) {
      return s && s->account == a && s->settings == settings;
    });
    if (same != slots_.end()) {
      kept.push_back(std::move(*same));
      continue;
    }
    // Each transport takes its tags from a range of its own.
    nextRange_ = nextRange_ % 0xFF + 1;
    kept.push_back(std::make_shared<Slot>(*this, a, settings, nextRange_ << 24));
  }
  const auto old = std::exchange(slots_, std::move(kept));
  for (auto& s : old)
    if (s) s->transport.abandon();
  timers_.setInterval(TimerId::pushTick, slots_.empty() ? 0 : 1000);
  if (slots_.empty()) timers_.disable(TimerId::pushTick);
  else timers_.enable(TimerId::pushTick);
  for (auto& s : slots_)
    if (s->state == Slot::State::Waiting && s->dueAt <= now_) open(*s);
}

void PushKeeper::stopAll() {
  const auto old = std::exchange(slots_, {});
  for (auto& s : old) {
    s->state = Slot::State::NoPush;
    s->transport.abandon();
  }
  timers_.disable(TimerId::pushTick);
}

void PushKeeper::open(Slot& s) {
  AccountSettings connecting = s.settings;
  if (signsInWithToken(connecting)) {
    const auto prepared = tokens ? tokens->prepare(s.account, connecting) : TokenKeeper::Prepared{};
    if (prepared.ready == TokenKeeper::Ready::Waiting) {
      s.state = Slot::State::TokenWait;
      s.since = now_;
      return;
    }
    if (prepared.ready == TokenKeeper::Ready::Failed) {
      // The checks report it; the connection waits for the user to sign
      // in again (the settings then change), or tries after its pause.
      if (prepared.problem == kSignInAgain || prepared.problem == kNotSignedIn) {
        s.state = Slot::State::NoPush;
      } else {
        s.sessionFailed();
        s.sessionEnded();
      }
      return;
    }
  } else if (connecting.passwordUnreadable) {
    s.state = Slot::State::NoPush;
    return;
  }
  auto dialogue = makePush(connecting, s.account, s);
  if (!dialogue) {
    s.state = Slot::State::NoPush;
    return;
  }
  s.state = Slot::State::Opening;
  s.since = now_;
  s.transport.tls = tls;
  s.transport.logon(connecting, std::move(dialogue));
}

void PushKeeper::retryWaiting() {
  const auto slots = slots_;
  for (const auto& s : slots) {
    if (s->state != Slot::State::Waiting) continue;
    s->failures = 0;
    open(*s);
  }
}

void PushKeeper::tokenArrived(int account) {
  const auto slots = slots_;
  for (const auto& s : slots)
    if (s->account == account && s->state == Slot::State::TokenWait) open(*s);
}

void PushKeeper::tick() {
  ++now_;
  const auto slots = slots_;
  for (const auto& held : slots) {
    Slot& s = *held;
    switch (s.state) {
      case Slot::State::Waiting:
        if (now_ >= s.dueAt) open(s);
        break;
      case Slot::State::TokenWait:
        // The renewal is the keeper's; a reply that never comes is given
        // up on like a silent server.
        if (now_ - s.since >= kAnswerSeconds) {
          s.sessionFailed();
          s.sessionEnded();
        }
        break;
      case Slot::State::Opening:
      case Slot::State::Renewing:
        // Not idling within its time: the server stopped answering.
        if (now_ - s.since >= kAnswerSeconds) {
          s.failed = true;
          if (Connection* c = s.transport.current()) c->close();
          s.transport.timeUp();
        }
        break;
      case Slot::State::Idling:
        // An idle that held for a while is the success that starts the
        // pauses over.
        if (now_ - s.since >= kAnswerSeconds) s.failures = 0;
        if (now_ - s.since >= kRenewSeconds) {
          s.state = Slot::State::Renewing;
          s.since = now_;
          if (Connection* c = s.transport.current()) c->session().renew();
        }
        break;
      case Slot::State::NoPush: break;
    }
  }
}

void PushKeeper::onNotify(SocketHandle sock, std::uint32_t tag, int error, int event) {
  const auto slots = slots_;
  for (const auto& s : slots) s->transport.onNotify(sock, tag, error, event);
}

bool PushKeeper::idling(int account) const {
  return std::any_of(slots_.begin(), slots_.end(), [&](const std::shared_ptr<Slot>& s) {
    return s->account == account && s->state == Slot::State::Idling;
  });
}

}  // namespace tarvi
