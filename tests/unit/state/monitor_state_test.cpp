#include "monitor/state/monitor_state.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_store.h"

namespace tarvi::fakes {
namespace {

TEST(MonitorState, LoadOptionsStopsAtTheFirstValueThatDoesNotConvert) {
  FakeStore store;
  MonitorState s;
  store.set("accountno", "1");
  store.set("Option1value", "1");
  store.set("Option2value", "x");  // stops here
  store.set("Option3value", "0");
  store.set("Hotkeynum0", "0");
  EXPECT_FALSE(s.loadOptions(store));
  EXPECT_TRUE(s.options.popupOnNewMail);
  EXPECT_FALSE(s.options.soundOnNewMail);
  EXPECT_TRUE(s.options.suppressErrorBoxes);  // keeps its previous value
  EXPECT_EQ(s.options.hotkeys[0], 113);

  for (const char* bad : {"", "70000", "-40000", "1e3", "99999999999999999999999"}) {
    store.set("Option2value", "1");
    store.set("frmHeight", bad);
    s.options.popupHeight = 1234;
    EXPECT_FALSE(s.loadOptions(store)) << bad;
    EXPECT_EQ(s.options.popupHeight, 1234) << bad;
    EXPECT_EQ(s.options.hotkeys[0], 0) << bad;  // the keys before it were read
  }
}

TEST(MonitorState, AccountRecordsFollowTheAccountCount) {
  FakeStore store;
  MonitorState s;
  store.set("accountno", "2");
  store.set("Scolor12", "255");
  ASSERT_TRUE(s.loadOptions(store));
  s.loadAccount(store, 2);
  EXPECT_EQ(s.accounts.find(2)->textColor, 255);
  s.accounts.find(2)->lastCount = 7;
  const struct {
    const char* count;
    int records;
  } steps[] = {{"4", 4}, {"3", 3}, {"1", 1}, {"0", 0}};  // exactly one record per account
  for (auto& step : steps) {
    store.set("accountno", step.count);
    ASSERT_TRUE(s.loadOptions(store));
    EXPECT_EQ(s.accounts.count(), step.records) << step.count;
    if (step.records >= 2) {
      EXPECT_EQ(s.accounts.find(2)->textColor, 255) << step.count;
      EXPECT_EQ(s.accounts.find(2)->lastCount, 7) << step.count;
    }
  }
  EXPECT_EQ(s.accounts.find(2), nullptr);
  s.accounts.resize(4);
  EXPECT_EQ(s.accounts.find(4)->backColor, kDefaultBackColor);
  EXPECT_EQ(s.accounts.find(4)->mail.size(), MessageList::kInitialMessages);
  EXPECT_EQ(s.accounts.find(2)->lastCount, 0);  // a new record
}

TEST(MonitorState, LoadAccountNeverTakesAnotherAccountsValues) {
  FakeStore store;
  MonitorState s;
  store.set("Aname1", "会社");
  store.set("Hname1", "pop.example.jp");
  store.set("Portno1", "995");
  store.set("Passw1", "97 98 99 ");
  store.set("Wavmode1", "2");
  store.set("Tlsmode1", "1");
  s.loadAccount(store, 1);
  EXPECT_EQ(toUtf8(s.current.name), "会社");
  EXPECT_EQ(s.current.password, u"abc");
  EXPECT_EQ(s.current.port, 995);
  EXPECT_EQ(s.current.tlsMode, kImplicitTls);
  EXPECT_EQ(s.accounts.find(1)->soundMode, 2);
  // Account 2's values do not convert: the defaults, not account 1's; a
  // TLS mode that is no mode is damaged, which is never plain text.
  const std::pair<const char*, std::int16_t> modes[] = {
      {nullptr, kPlain}, {"0", kPlain}, {"2", kStartTls}, {"x", kTlsDamaged}, {"7", kTlsDamaged}, {"-1", kTlsDamaged},
      {"", kTlsDamaged}};
  for (auto [stored, mode] : modes) {
    if (stored) store.set("Tlsmode2", stored);
    store.set("Portno2", "port");
    store.set("Wavmode2", "99999");
    s.loadAccount(store, 1);
    s.loadAccount(store, 2);
    const std::string what = stored ? stored : "absent";
    EXPECT_EQ(s.current.port, 110) << what;
    EXPECT_EQ(s.current.host, u"") << what;
    EXPECT_EQ(s.current.tlsMode, mode) << what;
    EXPECT_EQ(s.accounts.find(2)->soundMode, kCommonSound) << what;
  }
  s.loadAccount(store, 9);  // beyond the count: the records grow to it
  EXPECT_EQ(s.accounts.count(), 9);
  s.loadAccount(store, 0);
  s.loadAccount(store, -3);
  EXPECT_EQ(s.accounts.count(), 9);
}

}  // namespace
}  // namespace tarvi::fakes
