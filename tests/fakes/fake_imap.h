// A scripted IMAP server for the fake socket: one folder (and a Trash),
// the commands the monitor sends, and what it was asked, so that a test
// can see what a dialogue did to the folder.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/fakes/fake_tokens.h"

namespace tarvi::fakes {

struct ImapMessage {
  std::uint32_t uid = 0;
  std::string text;  // CR LF line ends
  std::set<std::string> flags;
};

struct ImapServer {
  std::string user = "joe", pass = "secret";
  std::string capabilities = "IMAP4rev1 IDLE MOVE UIDPLUS SPECIAL-USE";
  std::uint32_t uidValidity = 7;
  std::uint32_t uidNext = 1;
  std::vector<ImapMessage> messages;
  std::vector<ImapMessage> trash;
  // Overrides: the answer to a command (tag dropped) that starts with the key.
  std::map<std::string, std::string> replies;
  bool idling = false;
  std::string authTag;  // AUTHENTICATE waiting for its response line
  // The access token a token logon must carry (AUTH=XOAUTH2 or
  // AUTH=OAUTHBEARER in the capabilities offer the mechanism).
  std::string token;
  std::string authMechanism;  // of the AUTHENTICATE waiting
  bool challenged = false;    // the token was refused; the empty answer is due
  std::string idleTag;
  int fetches = 0;

  std::uint32_t add(const std::string& text, std::set<std::string> flags = {}) {
    messages.push_back({uidNext, text, std::move(flags)});
    return uidNext++;
  }
  ImapMessage* find(std::uint32_t uid) {
    for (auto& m : messages)
      if (m.uid == uid) return &m;
    return nullptr;
  }

  // UIDs of a set such as "1:3,7,9:*".
  std::vector<std::uint32_t> uidsOf(const std::string& set) const {
    const std::uint32_t top = messages.empty() ? 0 : messages.back().uid;
    std::set<std::uint32_t> wanted;
    std::size_t at = 0;
    while (at < set.size()) {
      std::size_t comma = set.find(',', at);
      const std::string part = set.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
      at = comma == std::string::npos ? set.size() : comma + 1;
      auto value = [&](const std::string& s) -> std::uint32_t {
        return s == "*" ? top : static_cast<std::uint32_t>(std::strtoul(s.c_str(), nullptr, 10));
      };
      const std::size_t colon = part.find(':');
      std::uint32_t lo = value(part.substr(0, colon)), hi = colon == std::string::npos ? lo : value(part.substr(colon + 1));
      if (lo > hi) std::swap(lo, hi);
      for (const auto& m : messages)
        if (m.uid >= lo && m.uid <= hi) wanted.insert(m.uid);
    }
    return {wanted.begin(), wanted.end()};
  }

  static std::string flagList(const ImapMessage& m) {
    std::string s;
    for (const auto& f : m.flags) s += (s.empty() ? "" : " ") + f;
    return "(" + s + ")";
  }
  std::size_t seqOf(std::uint32_t uid) const {
    for (std::size_t i = 0; i < messages.size(); ++i)
      if (messages[i].uid == uid) return i + 1;
    return 0;
  }
  static std::string headerOf(const std::string& text) {
    const std::size_t end = text.find("\r\n\r\n");
    return end == std::string::npos ? text : text.substr(0, end + 4);
  }

  std::string tokenResponse(const std::string& response) {
    const std::string tag = authTag;
    const bool bearer = authMechanism == "OAUTHBEARER";
    if (challenged || bearerResponseCarries(response, user, token, bearer)) {
      const bool ok = !challenged;
      authTag.clear();
      authMechanism.clear();
      challenged = false;
      if (ok) return tag + " OK [CAPABILITY " + capabilities + "] Logged in\r\n";
      return response == (bearer ? "AQ==" : "") ? tag + " NO [AUTHENTICATIONFAILED] Authentication failed.\r\n"
                                                : tag + " BAD wrong answer\r\n";
    }
    challenged = true;
    return "+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0=\r\n";
  }

  std::string respond(const std::string& line) {
    if (idling) {
      if (line != "DONE") return "";
      idling = false;
      return idleTag + " OK Idle completed.\r\n";
    }
    if (!authTag.empty()) {
      const std::string tag = authTag;
      if (!authMechanism.empty()) return tokenResponse(line);
      authTag.clear();
      return tag + " OK [CAPABILITY " + capabilities + "] Logged in\r\n";
    }
    const std::size_t sp = line.find(' ');
    const std::string tag = line.substr(0, sp);
    const std::string cmd = sp == std::string::npos ? "" : line.substr(sp + 1);
    for (auto& [k, v] : replies)
      if (cmd.rfind(k, 0) == 0) return v;
    auto done = [&](const std::string& untagged = "") { return untagged + tag + " OK done\r\n"; };
    if (cmd == "CAPABILITY") return done("* CAPABILITY " + capabilities + "\r\n");
    if (cmd == "AUTHENTICATE PLAIN") {
      authTag = tag;
      return "+ \r\n";
    }
    if (cmd.rfind("AUTHENTICATE PLAIN ", 0) == 0) return tag + " OK [CAPABILITY " + capabilities + "] Logged in\r\n";
    for (const std::string mechanism : {"XOAUTH2", "OAUTHBEARER"}) {
      if (cmd.rfind("AUTHENTICATE " + mechanism, 0) != 0) continue;
      if (capabilities.find("AUTH=" + mechanism) == std::string::npos) return tag + " NO Unsupported mechanism\r\n";
      authTag = tag;
      authMechanism = mechanism;
      if (cmd.size() == 13 + mechanism.size()) return "+ \r\n";
      return tokenResponse(cmd.substr(14 + mechanism.size()));
    }
    if (cmd == "STARTTLS") return tag + " OK Begin TLS negotiation now.\r\n";
    if (cmd.rfind("LOGIN ", 0) == 0)
      return cmd == "LOGIN \"" + user + "\" \"" + pass + "\"" ? tag + " OK [CAPABILITY " + capabilities + "] Logged in\r\n"
                                                           : tag + " NO [AUTHENTICATIONFAILED] Authentication failed.\r\n";
    if (cmd.rfind("EXAMINE ", 0) == 0 || cmd.rfind("SELECT ", 0) == 0)
      return "* " + std::to_string(messages.size()) + " EXISTS\r\n* OK [UIDVALIDITY " + std::to_string(uidValidity) +
             "] UIDs valid\r\n* OK [UIDNEXT " + std::to_string(uidNext) + "] Predicted next UID\r\n" + tag +
             (cmd[0] == 'E' ? " OK [READ-ONLY] Examined\r\n" : " OK [READ-WRITE] Selected\r\n");
    if (cmd.rfind("UID SEARCH ", 0) == 0) {
      std::string out = "* SEARCH";
      const std::string what = cmd.substr(11);
      std::set<std::uint32_t> among;
      if (what.rfind("UID ", 0) == 0)
        for (auto u : uidsOf(what.substr(4))) among.insert(u);
      for (const auto& m : messages)
        if ((what == "ALL" || (what == "UNSEEN" && !m.flags.count("\\Seen")) || among.count(m.uid)))
          out += " " + std::to_string(m.uid);
      return done(out + "\r\n");
    }
    if (cmd.rfind("UID FETCH ", 0) == 0) {
      ++fetches;
      const std::string rest = cmd.substr(10);
      const std::string set = rest.substr(0, rest.find(' '));
      const bool whole = rest.find("BODY.PEEK[]") != std::string::npos;
      std::string out;
      for (auto u : uidsOf(set)) {
        const ImapMessage& m = *find(u);
        const std::string body = whole ? m.text : headerOf(m.text);
        out += "* " + std::to_string(seqOf(u)) + " FETCH (UID " + std::to_string(u) + " FLAGS " + flagList(m) +
               (whole ? " BODY[] {" : " RFC822.SIZE " + std::to_string(m.text.size()) +
                                          " BODY[HEADER.FIELDS (FROM SUBJECT DATE MESSAGE-ID CONTENT-TYPE)] {") +
               std::to_string(body.size()) + "}\r\n" + body + ")\r\n";
      }
      return done(out);
    }
    if (cmd.rfind("UID STORE ", 0) == 0) {
      for (auto u : uidsOf(cmd.substr(10, cmd.find(' ', 10) - 10))) find(u)->flags.insert("\\Deleted");
      return done();
    }
    auto expunge = [&](const std::vector<std::uint32_t>& uids, bool toTrash) {
      std::string out;
      for (auto u : uids) {
        const std::size_t seq = seqOf(u);
        if (seq == 0) continue;
        if (toTrash) trash.push_back(messages[seq - 1]);
        messages.erase(messages.begin() + static_cast<long>(seq - 1));
        out += "* " + std::to_string(seq) + " EXPUNGE\r\n";
      }
      return out;
    };
    if (cmd.rfind("UID EXPUNGE ", 0) == 0) {
      std::vector<std::uint32_t> gone;
      for (auto u : uidsOf(cmd.substr(12)))
        if (find(u)->flags.count("\\Deleted")) gone.push_back(u);
      return done(expunge(gone, false));
    }
    if (cmd == "EXPUNGE") {
      std::vector<std::uint32_t> gone;
      for (auto& m : messages)
        if (m.flags.count("\\Deleted")) gone.push_back(m.uid);
      return done(expunge(gone, false));
    }
    if (cmd.rfind("UID MOVE ", 0) == 0) return done(expunge(uidsOf(cmd.substr(9, cmd.find(' ', 9) - 9)), true));
    if (cmd.rfind("LIST ", 0) == 0) return done("* LIST (\\HasNoChildren) \".\" INBOX\r\n* LIST (\\HasNoChildren \\Trash) \".\" Trash\r\n");
    if (cmd == "IDLE") {
      idling = true;
      idleTag = tag;
      return "+ idling\r\n";
    }
    if (cmd == "LOGOUT") return "* BYE Logging out\r\n" + tag + " OK Logout completed.\r\n";
    return tag + " BAD Error in IMAP command\r\n";
  }
};

}  // namespace tarvi::fakes
