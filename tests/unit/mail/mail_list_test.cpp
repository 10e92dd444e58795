#include "monitor/mail/mail_list.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tarvi {
namespace {

MailItem item(const char16_t* from) {
  MailItem m;
  m.From = from;
  m.Subject = u"件名";
  m.Marked = -1;
  m.HasAttach = true;
  m.AttachNames = u"\"a.doc\" ";
  m.Body = u"本文";
  return m;
}

TEST(MailList, RedimGivesEmptyRecordsWithinBounds) {
  MailList list;
  EXPECT_FALSE(list.contains(1, 1));
  list.redim(3);
  EXPECT_EQ(list.accounts(), 3);
  EXPECT_EQ(list.messages(), 10);
  const struct {
    int account, msgno;
    bool inside;
  } cases[] = {{1, 1, true}, {3, 10, true}, {0, 1, false}, {1, 0, false},
               {4, 1, false}, {1, 11, false}, {-1, -1, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(list.contains(c.account, c.msgno), c.inside) << c.account << "," << c.msgno;
    EXPECT_EQ(list.find(c.account, c.msgno) != nullptr, c.inside);
    if (c.inside) {
      EXPECT_EQ(list.at(c.account, c.msgno), MailItem{});
    } else {
      EXPECT_THROW(list.at(c.account, c.msgno), std::out_of_range);
    }
  }
}

TEST(MailList, EnlargingKeepsRecordsAndRedimDiscardsThem) {
  MailList list;
  list.redim(2);
  list.at(1, 10) = item(u"a");
  list.at(2, 3) = item(u"b");

  ASSERT_TRUE(list.ensureMessages(25));
  EXPECT_EQ(list.messages(), 25);
  EXPECT_EQ(list.at(1, 10), item(u"a"));
  EXPECT_EQ(list.at(2, 3), item(u"b"));
  EXPECT_EQ(list.at(2, 25), MailItem{});

  // The bound never shrinks.
  ASSERT_TRUE(list.ensureMessages(5));
  EXPECT_EQ(list.messages(), 25);

  list.ensureAccounts(4);
  EXPECT_EQ(list.accounts(), 4);
  EXPECT_EQ(list.at(1, 10), item(u"a"));
  EXPECT_EQ(list.at(4, 25), MailItem{});
  list.ensureAccounts(1);
  EXPECT_EQ(list.accounts(), 4);

  list.redim(4);
  EXPECT_EQ(list.messages(), 10);
  EXPECT_EQ(list.at(1, 10), MailItem{});
}

TEST(MailList, RefusesAHostileMessageCount) {
  MailList list;
  list.redim(1);
  list.at(1, 1) = item(u"a");
  EXPECT_FALSE(list.ensureMessages(MailList::kMaxMessages + 1));
  EXPECT_EQ(list.messages(), 10);
  EXPECT_EQ(list.at(1, 1), item(u"a"));
  list.redim(-2, -5);
  EXPECT_EQ(list.accounts(), 0);
  EXPECT_EQ(list.messages(), 0);
}

}  // namespace
}  // namespace tarvi
