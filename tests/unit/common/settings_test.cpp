#include "common/settings.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/fakes/fake_store.h"

namespace tarvi {
namespace {

using fakes::FakeStore;

TEST(Settings, SchemaKeysAreUniqueAndComplete) {
  const auto keys = schema();
  std::set<Text> names;
  for (const auto& k : keys) EXPECT_TRUE(names.insert(k.name).second) << toUtf8(k.name);
  // 20 scalar keys, 8 hotkeys, 6 widths, 2 sizes, 2 dial-up keys, 10 prefixes
  EXPECT_EQ(keys.size(), 20u + 8 + 6 + 2 + 2 + 10);
  for (const char* n : {"accountno", "Hotkeynum7", "grdWidth5", "frmHeight", "Wavdir2_", "Passw"})
    EXPECT_TRUE(names.count(ascii(n))) << n;
}

TEST(Settings, GeneralRoundTripThroughStore) {
  GeneralSettings w;
  w.accountno = 3;
  w.Option1value = 1;
  w.Option3value = 0;
  w.sOption11value = 1;
  w.Checktimerval = 7;
  w.Timeupval = 2;
  w.Mailerdir[1] = u"C:\\Program Files\\メーラー\\mail.exe";
  w.Wavdir = u"C:\\ding.wav";
  w.Hotkeynum = {0, 65, 90, 112, 127, 212, 227, 200};
  w.grdWidth = {1, 2, 3, 4, 5, 6};
  w.frmWidth = -1;
  w.frmHeight = 32767;
  w.Defdialno = -1;
  w.Redialval = 4;
  FakeStore store;
  for (auto& k : generalKeys(w)) {
    if (auto* t = std::get_if<Text*>(&k.field)) saveValue(store, k.def.name, 0, **t);
    else if (auto* i = std::get_if<std::int16_t*>(&k.field)) saveValue(store, k.def.name, **i, u"");
  }
  EXPECT_EQ(store.at("Mailerdir2"), "");  // path keys keep the empty text
  EXPECT_EQ(store.at("Hotkeynum0"), "0");
  GeneralSettings r;
  for (auto& k : generalKeys(r)) EXPECT_TRUE(readKey(store, k)) << toUtf8(k.def.name);
  EXPECT_EQ(r, w);
}

TEST(Settings, EmptyStoreGivesEveryDefault) {
  FakeStore store;
  GeneralSettings r;
  r.Option3value = 9;  // make sure reading really writes the defaults
  r.Hotkeynum[3] = 0;
  for (auto& k : generalKeys(r)) EXPECT_TRUE(readKey(store, k));
  EXPECT_EQ(r, GeneralSettings{});
  EXPECT_EQ(r.accountno, 0);
  EXPECT_EQ(r.Option3value, 1);
  EXPECT_EQ(r.Option4value, 1);
  EXPECT_EQ(r.Checktimerval, 0);
  EXPECT_EQ(r.Timeupval, 1);
  EXPECT_EQ(r.Lighttimerval, 5);
  for (int i = 0; i < kHotkeyCount; ++i) EXPECT_EQ(r.Hotkeynum[i], 113 + i);
  EXPECT_EQ(r.frmWidth, 8730);
  EXPECT_EQ(r.frmHeight, 4710);

  AccountSettings a;
  a.Aname = u"x";
  loadAccount(store, 1, a);
  EXPECT_EQ(a, AccountSettings{});
}

TEST(Settings, AccountRoundTripAndStoredForms) {
  AccountSettings a;
  a.Aname = u"会社";
  a.Hname = u"pop.example.jp";
  a.Portno = 995;
  a.Uname = u"";
  a.Passw = u"pässワード";
  a.Check = 0;
  a.Scolor1 = 255;
  a.Scolor2 = 16777215;
  a.Wavmode = 1;
  a.Wavdir2_ = u"";
  FakeStore store;
  saveAccount(store, 12, a);
  EXPECT_EQ(store.at("Portno12"), "995");
  EXPECT_EQ(store.at("Uname12"), "0");   // empty texts are stored as "0"
  EXPECT_EQ(store.at("Wavdir2_12"), "0");
  EXPECT_EQ(store.at("Scolor212"), "16777215");
  EXPECT_EQ(store.at("Portno1"), "<absent>");
  std::vector<Text> order;
  for (auto& w : store.writes) order.push_back(w);
  const std::vector<Text> expect = {u"Aname12", u"Hname12", u"Portno12", u"Uname12",
                                    u"Passw12", u"Check12", u"Scolor112", u"Scolor212",
                                    u"Wavmode12", u"Wavdir2_12"};
  EXPECT_EQ(order, expect);

  AccountSettings r;
  loadAccount(store, 12, r);
  AccountSettings want = a;
  want.Uname = u"0";     // readers take "0" literally
  want.Wavdir2_ = u"0";
  want.Passw = u"p?ssワード";  // ä has no code in the code page
  EXPECT_EQ(r, want);

  a.Passw = u"";
  saveAccount(store, 2, a);
  EXPECT_EQ(store.at("Passw2"), "0");
  loadAccount(store, 2, r);
  EXPECT_EQ(r.Passw, u"");
}

TEST(Settings, ValuesThatDoNotConvertLeaveTheField) {
  const struct {
    const char* stored;
    bool ok16;
    std::int16_t v16;
    bool ok32;
  } cases[] = {
      {"12", true, 12, true},        {" -5 ", true, -5, true},
      {"32767", true, 32767, true},  {"32768", false, 0, true},
      {"-32769", false, 0, true},    {"", false, 0, false},
      {"abc", false, 0, false},      {"1.5", false, 0, false},
      {"4294967296", false, 0, false},
      {"99999999999999999999999999999", false, 0, false},
      {"+7", true, 7, true},         {"--7", false, 0, false},
  };
  for (const auto& c : cases) {
    FakeStore store;
    store.set("Portno1", c.stored);
    store.set("Scolor11", c.stored);
    AccountSettings a;
    a.Portno = 4242;
    a.Scolor1 = 77;
    loadAccount(store, 1, a);
    EXPECT_EQ(a.Portno, c.ok16 ? c.v16 : 4242) << c.stored;
    EXPECT_EQ(a.Scolor1 != 77, c.ok32) << c.stored;
  }
}

TEST(Settings, SaveValueForms) {
  FakeStore s;
  saveValue(s, u"Aname1", 0, u"");
  saveValue(s, u"Wavdir", 0, u"");
  saveValue(s, u"Mailerdir1", 0, u"");
  saveValue(s, u"Option1value", 1, u"");
  saveValue(s, u"Aname2", 0, u"0");
  EXPECT_EQ(s.at("Aname1"), "0");
  EXPECT_EQ(s.at("Wavdir"), "");
  EXPECT_EQ(s.at("Mailerdir1"), "");
  EXPECT_EQ(s.at("Option1value"), "1");
  EXPECT_EQ(s.at("Aname2"), "0");
}

TEST(Settings, VeryLongTextReadsBack) {
  FakeStore s;
  const std::string longName(100000, 'x');
  s.set("Aname1", longName);
  AccountSettings a;
  loadAccount(s, 1, a);
  EXPECT_EQ(a.Aname.size(), longName.size());
}

}  // namespace
}  // namespace tarvi
