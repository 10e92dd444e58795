#include "monitor/desktop/tray.h"

#include "common/app.h"
#include "common/sign_in.h"

namespace tarvi {
namespace {

Text twoDigits(int v) { return (v < 10 ? u"0" : u"") + decimal(v); }

}  // namespace

const std::vector<TrayMenuEntry>& trayMenu() {
  static const std::vector<TrayMenuEntry> menu = {
      {u"今すぐチェック", HotkeyCommand::Check},
      {u"ポップアップ", HotkeyCommand::Popup},
      {u"設定...", HotkeyCommand::Settings},
      {u"", std::nullopt},
      {u"終了", HotkeyCommand::Quit},
  };
  return menu;
}

Text trayTooltip(std::optional<std::int64_t> total, std::optional<LocalTime> checkedAt) {
  Text t = kAppTitle;
  if (!total) return t;
  t += u"\n" + decimal(*total) + u"通";
  if (checkedAt) t += u" (" + twoDigits(checkedAt->hour) + u":" + twoDigits(checkedAt->minute) + u")";
  return t;
}

BalloonText newMailBalloon(std::int64_t total, const std::vector<Text>& accounts) {
  BalloonText b{decimal(total) + u"通のメールが届いています", {}};
  for (const Text& name : accounts) b.text += (b.text.empty() ? u"" : u"\n") + name;
  return b;
}

Text Tray::tooltip() const {
  Text t = trayTooltip(total_, checkedAt_);
  if (offline_) t += Text(u"\n") + kOffline;
  if (signInNeeded_.empty()) return t;
  t += u"\n";
  t += kSignInNeededLead;
  for (std::size_t i = 0; i < signInNeeded_.size(); ++i) t += (i ? u", " : u"") + signInNeeded_[i];
  return t;
}

void Tray::setOffline(bool offline) {
  if (offline_ == offline) return;
  offline_ = offline;
  refresh();
}

bool Tray::signInNeeded(const std::vector<Text>& accounts, const Text& newlyLost) {
  if (signInNeeded_ != accounts) {
    signInNeeded_ = accounts;
    refresh();
  }
  if (newlyLost.empty()) return true;
  if (!shown_ || !opt_.balloon) return false;
  icon_.balloon(newlyLost, kSignInAgain, opt_.quiet);
  signInBalloon_ = true;
  return true;
}

void Tray::applyOption() {
  if (opt_.trayIcon && !shown_) {
    icon_.show(tooltip(), newMail_);
    shown_ = true;
  } else if (!opt_.trayIcon && shown_) {
    remove();
  }
}

void Tray::remove() {
  if (!shown_) return;
  icon_.remove();
  shown_ = false;
}

void Tray::taskbarRecreated() {
  if (shown_) icon_.show(tooltip(), newMail_);
}

void Tray::checkFinished(std::int64_t total, std::optional<LocalTime> at,
                         const std::vector<Text>& newMailAccounts) {
  total_ = total;
  checkedAt_ = at;
  // A check without news leaves unread news of an earlier one waiting.
  if (!newMailAccounts.empty()) newMail_ = true;
  refresh();
  if (shown_ && opt_.balloon && !newMailAccounts.empty()) {
    const BalloonText b = newMailBalloon(total, newMailAccounts);
    icon_.balloon(b.title, b.text, opt_.quiet);
    signInBalloon_ = false;
  }
}

void Tray::totalChanged(std::int64_t total) {
  if (total_ == total) return;
  total_ = total;
  refresh();
}

void Tray::newMailSeen() {
  if (!newMail_) return;
  newMail_ = false;
  refresh();
}

void Tray::refresh() {
  if (shown_) icon_.update(tooltip(), newMail_);
}

}  // namespace tarvi
