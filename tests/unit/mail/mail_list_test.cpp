#include "monitor/mail/mail_list.h"

#include <gtest/gtest.h>

namespace tarvi {
namespace {

MailItem item(const char16_t* from) {
  MailItem m;
  m.sender = from;
  m.subject = u"件名";
  m.marked = true;
  m.hasAttachment = true;
  m.attachmentNames = u"\"a.doc\" ";
  m.body = u"本文";
  return m;
}

TEST(MessageList, ClearGivesEmptyRecordsWithinBounds) {
  MessageList list;
  EXPECT_EQ(list.find(1), nullptr);
  list.clear();
  ASSERT_EQ(list.size(), MessageList::kInitialMessages);
  for (int m : {0, -1, 11}) EXPECT_EQ(list.find(m), nullptr) << m;
  for (int m : {1, 10}) {
    ASSERT_NE(list.find(m), nullptr) << m;
    EXPECT_EQ(*list.find(m), MailItem{}) << m;
  }
}

TEST(MessageList, EnsureKeepsRecordsAndClearDiscardsThem) {
  MessageList list;
  list.clear();
  *list.find(10) = item(u"a");
  *list.find(3) = item(u"b");

  ASSERT_TRUE(list.ensure(25));
  EXPECT_EQ(list.size(), 25);
  EXPECT_EQ(*list.find(10), item(u"a"));
  EXPECT_EQ(*list.find(3), item(u"b"));
  EXPECT_EQ(*list.find(25), MailItem{});

  ASSERT_TRUE(list.ensure(5));  // the bound never shrinks
  EXPECT_EQ(list.size(), 25);

  list.clear(4);
  EXPECT_EQ(list.size(), 4);
  EXPECT_EQ(*list.find(3), MailItem{});
}

TEST(MessageList, RefusesAHostileMessageCount) {
  MessageList list;
  list.clear();
  *list.find(1) = item(u"a");
  EXPECT_FALSE(list.ensure(MessageList::kMaxMessages + 1));
  EXPECT_EQ(list.size(), MessageList::kInitialMessages);
  EXPECT_EQ(*list.find(1), item(u"a"));
  EXPECT_TRUE(list.ensure(MessageList::kMaxMessages));
  EXPECT_EQ(list.size(), MessageList::kMaxMessages);

  list.clear(-2);
  EXPECT_EQ(list.size(), 0);
  list.clear(MessageList::kMaxMessages + 1);
  EXPECT_EQ(list.size(), MessageList::kMaxMessages);
}

}  // namespace
}  // namespace tarvi
