#include "monitor/state/monitor_state.h"

#include <gtest/gtest.h>

namespace tarvi {
namespace {

TEST(AccountTable, FindsAccountsOneToCountOnly) {
  AccountTable t;
  EXPECT_EQ(t.find(1), nullptr);
  t.resize(2);
  for (int n : {0, -1, 3}) EXPECT_EQ(t.find(n), nullptr) << n;
  EXPECT_NE(t.find(1), t.find(2));
  t.resize(-4);
  EXPECT_EQ(t.count(), 0);
}

TEST(AccountTable, ClearsMailAndNewMailOfEveryAccount) {
  AccountTable t;
  t.resize(3);
  EXPECT_FALSE(t.anyNewMail());
  t.find(3)->newMail = true;
  EXPECT_TRUE(t.anyNewMail());
  t.clearNewMail();
  EXPECT_FALSE(t.anyNewMail());

  // Emptying the rows forgets the counts too: the next check with
  // reportOnlyChanges must not take the mailbox for unchanged and show
  // empty rows.
  for (int a = 1; a <= 3; ++a) {
    AccountState& r = *t.find(a);
    r.mail.ensure(20);
    r.mail.find(1)->body = u"x";
    r.mail.find(2)->marked = true;
    r.lastCount = 20;
    r.lastSize = 999;
    r.shownCount = 20;
    r.listedIdentity = u"h\n110\nu";
  }
  t.clearMarks();
  EXPECT_FALSE(t.find(2)->mail.find(2)->marked);
  EXPECT_EQ(t.find(2)->mail.find(1)->body, u"x");
  t.resetListings();
  for (int a = 1; a <= 3; ++a) {
    const AccountState& r = *t.find(a);
    ASSERT_EQ(r.mail.size(), MessageList::kInitialMessages) << a;
    EXPECT_EQ(*r.mail.find(1), MailItem{}) << a;
    EXPECT_EQ(r.lastCount, 0) << a;
    EXPECT_EQ(r.lastSize, 0) << a;
    EXPECT_EQ(r.shownCount, 0) << a;
    EXPECT_TRUE(r.listedIdentity.empty()) << a;
  }
}

}  // namespace
}  // namespace tarvi
