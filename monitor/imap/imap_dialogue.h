// What every IMAP dialogue of the monitor shares: tagged commands, the
// responses read by the reader of common/imap_response.h, the greeting,
// the capabilities, the logon (LOGIN, or AUTHENTICATE PLAIN where LOGIN is
// disabled or cannot carry the user's bytes) and LOGOUT. The check,
// retrieve, delete and push dialogues build on it and see only what follows
// the logon.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/imap_response.h"
#include "common/settings.h"
#include "monitor/net/dialogue.h"
#include "monitor/net/transport.h"
#include "monitor/state/monitor_state.h"

namespace tarvi {

// What the server offers that the dialogues choose by.
struct ImapCapabilities {
  bool known = false;
  bool loginDisabled = false;
  bool authPlain = false;
  bool authXoauth2 = false;
  bool authOauthBearer = false;
  bool saslIr = false;
  bool idle = false;
  bool move = false;
  bool uidPlus = false;
  bool specialUse = false;
};
ImapCapabilities readCapabilities(const std::vector<std::string>& atoms);

// A folder name as IMAP writes it (modified UTF-7), quoted.
std::string imapMailboxArgument(const Text& folder);

// The UIDVALIDITY and UID a listed message carries in MailItem::uid
// ("validity.uid"), or nullopt for a message listed otherwise.
struct ImapUid {
  std::uint32_t validity = 0;
  std::uint32_t uid = 0;
};
std::string imapUidText(ImapUid id);
std::optional<ImapUid> imapUidOf(const MailItem& item);

// The number in a response code such as "UIDVALIDITY 3857529045".
std::optional<std::uint32_t> codeNumber(std::string_view code, std::string_view name);

inline constexpr const char16_t* kImapBadResponse = u"ｻｰﾊﾞの応答に誤りがあります";
inline constexpr const char16_t* kImapNoLogon =
    u"ｻｰﾊﾞが使えるﾛｸﾞｲﾝ方法を示していません(LOGINDISABLED)";
inline constexpr const char16_t* kImapUnsendable =
    u"ﾕｰｻﾞｰ名かﾊﾟｽﾜｰﾄﾞにIMAPで送れない文字が含まれています";
inline constexpr const char16_t* kImapFolderFailed = u"ﾌｫﾙﾀﾞを開けませんでした";
inline constexpr const char16_t* kImapClosed = u"ｻｰﾊﾞが接続を終了しました";

class ImapDialogue : public Dialogue {
 public:
  ImapDialogue();

  void bytesReceived(std::string_view bytes) override;
  std::size_t held() const override { return reader_.held(); }
  void failed(const Text& message) override;
  void quit() override;
  bool quitSent() const override { return !logoutTag_.empty(); }
  Text logged(const Text& command) const override;
  std::string startTlsCommand() const override { return "T0 STARTTLS\r\n"; }
  ClearLine greetingLine(std::string_view line) const override;
  ClearLine startTlsAnswer(std::string_view line) const override;

  // Largest response taken (a whole message with its attachments is one).
  static constexpr std::size_t kMaxResponse = 64u << 20;

 protected:
  // The logon is done: the dialogue proper starts.
  virtual void loggedIn() = 0;
  // The tagged completion of a command the dialogue sent.
  virtual void completed(const imap::Response& r) = 0;
  // An untagged response after the logon, other than BYE and CAPABILITY.
  virtual void untagged(const imap::Response&) {}
  // A continuation request ("+") after the logon.
  virtual void continuation(const imap::Response&) {}

  // Sends "tag text" and returns the tag; several may be in flight.
  std::string command(const std::string& text);
  // Sends a line that is no command (IDLE's DONE).
  void sendRaw(const std::string& line);
  bool ok(const imap::Response& r) const { return r.name == "OK"; }
  // The text a refusal shows: the server's words, else `fallback`.
  Text refusalText(const imap::Response& r, const char16_t* fallback) const;
  const ImapCapabilities& capabilities() const { return caps_; }
  bool loggedOn() const { return stage_ == Stage::Ready; }
  bool over() const { return over_; }

 private:
  enum class Stage { Greeting, Capability, Authenticating, Login, Ready };
  void dispatch(const imap::Response& r);
  void greeted(const imap::Response& r);
  void logon();
  void tokenLogon();
  // A continuation while the logon authenticates.
  void logonContinuation();
  void loggedOn(const imap::Response& r);
  void takeCapabilities(const imap::Response& r);

  imap::Reader reader_;
  Stage stage_ = Stage::Greeting;
  ImapCapabilities caps_;
  std::vector<std::string> pending_;  // tags sent, not yet completed
  std::string logonTag_;
  std::string logoutTag_;
  std::string plainResponse_;  // AUTHENTICATE without SASL-IR: sent after "+"
  // A token logon: its mechanism, and whether the server's error challenge
  // was answered (what follows is the refusal).
  bool tokenLogon_ = false;
  bool oauthBearer_ = false;
  bool challengeAnswered_ = false;
  unsigned nextTag_ = 1;
  bool over_ = false;  // failed or closed: nothing more is read
  bool reading_ = false;
};

}  // namespace tarvi
