#include "monitor/state/kept_list.h"

#include <gtest/gtest.h>

#include "common/kept_list_name.h"
#include "tests/fakes/fake_list_store.h"

namespace tarvi {
namespace {

const Text kMailbox = u"pop.example.jp\n110\njoe";

MessageList sample() {
  MessageList list;
  list.clear(4);
  const char* uids[] = {"a1", "", "c\\3", "d4"};
  for (int m = 1; m <= 4; ++m) {
    MailItem& item = *list.find(m);
    item.uid = uids[m - 1];
    item.sender = u"送信者\t" + decimal(m) + u"\\n";
    item.subject = u"件名\r\n" + decimal(m);
    item.identity = u"from x\nsubject y\ndate " + decimal(m);
    item.hasAttachment = m == 4;
    item.body = u"not kept";
    item.marked = true;
  }
  return list;
}

TEST(KeptList, RoundTripKeepsWhatWasListedInOrder) {
  const MessageList list = sample();
  const std::string bytes = encodeKeptList(kMailbox, list);
  auto items = decodeKeptList(kMailbox, bytes);
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 3u);  // the message without an id is not kept
  const int from[] = {1, 3, 4};
  for (std::size_t i = 0; i < 3; ++i) {
    const MailItem& want = *list.find(from[i]);
    const MailItem& got = (*items)[i];
    EXPECT_EQ(got.uid, want.uid);
    EXPECT_EQ(got.sender, want.sender);
    EXPECT_EQ(got.subject, want.subject);
    EXPECT_EQ(got.identity, want.identity);
    EXPECT_EQ(got.hasAttachment, want.hasAttachment);
    EXPECT_TRUE(got.body.empty());
    EXPECT_FALSE(got.marked);
  }
  MessageList empty;
  empty.clear(0);
  auto none = decodeKeptList(kMailbox, encodeKeptList(kMailbox, empty));
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

TEST(KeptList, DamagedForeignOrCutShortIsNoList) {
  const std::string bytes = encodeKeptList(kMailbox, sample());
  EXPECT_FALSE(decodeKeptList(u"pop.example.jp\n110\nann", bytes));  // another mailbox's
  for (std::size_t cut = 0; cut < bytes.size(); ++cut)
    EXPECT_FALSE(decodeKeptList(kMailbox, bytes.substr(0, cut))) << "cut at " << cut;
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    std::string changed = bytes;
    changed[at] ^= 0x20;
    EXPECT_FALSE(decodeKeptList(kMailbox, changed)) << "byte " << at;
  }
  EXPECT_FALSE(decodeKeptList(kMailbox, bytes + "x\n"));
  EXPECT_FALSE(decodeKeptList(kMailbox, "PK\x03\x04 some other program's file"));
}

TEST(KeptList, StoreSetsAsideWhatIsNoListAndNamesFilesByMailbox) {
  fakes::FakeListStore store;
  ASSERT_TRUE(saveKeptList(store, kMailbox, sample()));
  EXPECT_EQ(loadKeptList(store, kMailbox).size(), 3u);
  const Text name = keptListFileName(kMailbox);
  EXPECT_EQ(store.files.count(name), 1u);
  store.files[name] = "garbage";
  EXPECT_TRUE(loadKeptList(store, kMailbox).empty());
  EXPECT_EQ(store.setAsideFiles, std::vector<std::string>{"garbage"});
  EXPECT_TRUE(store.files.empty());

  // One file per server, port and user; the name holds nothing of them.
  AccountSettings a;
  a.host = u"pop.example.jp";
  a.port = 110;
  a.user = u"joe";
  EXPECT_EQ(mailboxIdentity(a), kMailbox);
  AccountSettings b = a;
  b.port = 995;
  AccountSettings c = a;
  c.user = u"Joe";
  EXPECT_NE(keptListFileName(mailboxIdentity(b)), name);
  EXPECT_NE(keptListFileName(mailboxIdentity(c)), name);
  EXPECT_EQ(name.size(), 25u);
  EXPECT_EQ(name.find(u"joe"), Text::npos);
}

}  // namespace
}  // namespace tarvi
