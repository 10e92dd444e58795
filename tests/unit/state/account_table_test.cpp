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

  for (int a = 1; a <= 3; ++a) {
    t.find(a)->mail.ensure(20);
    t.find(a)->mail.find(1)->body = u"x";
  }
  t.clearMail();
  for (int a = 1; a <= 3; ++a) {
    ASSERT_EQ(t.find(a)->mail.size(), MessageList::kInitialMessages) << a;
    EXPECT_EQ(*t.find(a)->mail.find(1), MailItem{}) << a;
  }
}

}  // namespace
}  // namespace tarvi
