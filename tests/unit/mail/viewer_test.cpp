#include "monitor/mail/viewer_model.h"

#include <gtest/gtest.h>

#include "monitor/mail/extract.h"

namespace tarvi {
namespace {

class RecordingViewer : public ViewerView {
 public:
  void showText(const Text& text) override { shown.push_back(toUtf8(text)); }
  std::vector<std::string> shown;
};

MailItem item(const char* subject, const char* from, const char* body, bool attach = false,
              const char* names = "") {
  MailItem r;
  r.Subject = fromUtf8(subject);
  r.From = fromUtf8(from);
  r.Body = fromUtf8(body);
  r.HasAttach = attach;
  r.AttachNames = fromUtf8(names);
  return r;
}

TEST(ViewerText, Lines) {
  const struct {
    MailItem item;
    const char* text;  // nullptr: nothing shown
  } cases[] = {
      {item("会議", "山田 <y@x>", "本文\r\n二行目\r\n"),
       "Subject: 会議\r\n   From: 山田 <y@x>\r\n\r\n本文\r\n二行目\r\n"},
      {item("s", "f", "b", true, "\"a.doc\" \"b.jpg\" "),
       "Subject: s\r\n   From: f\r\n Attach:  \"a.doc\" \"b.jpg\" \r\n\r\nb"},
      {item("", "", "x"), "Subject: \r\n   From: \r\n\r\nx"},
      {item("s", "f", ""), nullptr},                  // not retrieved
      {item("s", "f", "", true, "\"a\" "), nullptr},  // multipart guess only
  };
  for (auto& c : cases) {
    auto t = viewerText(c.item);
    ASSERT_EQ(t.has_value(), c.text != nullptr) << toUtf8(c.item.Subject);
    if (t) {
      EXPECT_EQ(toUtf8(*t), c.text);
    }
  }
}

TEST(ViewerText, RetrievedMultipartShowsBothAttachmentNames) {
  MailList mail;
  mail.redim(1, 1);
  // The text part is longer than the window in which a part's name is
  // looked for, as real ones are.
  const std::string text = "see attached\r\n" + std::string(400, 'x') + "\r\n";
  Text reply = fromUtf8(
      "+OK\r\nFrom: a@x\r\nSubject: files\r\nContent-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n"
      "--BB\r\nContent-Type: text/plain\r\n\r\n" + text +
      "--BB\r\nContent-Type: application/msword; name=\"a.doc\"\r\n\r\nAAAA\r\n"
      "--BB\r\nContent-Type: image/jpeg; name=\"b.jpg\"\r\n\r\nBBBB\r\n--BB--\r\n.\r\n");
  ASSERT_TRUE(subListSet(mail, 1, 1, reply));
  ASSERT_TRUE(subListSet2(mail, 1, 1, reply));
  RecordingViewer view;
  MessageViewer viewer(mail, view);
  ASSERT_TRUE(viewer.showMessage(1, 1));
  ASSERT_EQ(view.shown.size(), 1u);
  const std::string& t = view.shown[0];
  EXPECT_EQ(t.rfind("Subject: files\r\n   From: a@x\r\n Attach:  \"a.doc\" \"b.jpg\" \r\n\r\n", 0), 0u) << t;
  EXPECT_NE(t.find("see attached"), std::string::npos) << t;
  EXPECT_EQ(t.find("AAAA"), std::string::npos) << t;
}

// The popup's list with three messages of account 1; message 2 retrieved.
struct DblClickRig {
  MailList mail;
  PopupGrid grid;
  RecordingViewer view;
  MessageViewer viewer{mail, view};
  bool actions = false;
  std::vector<std::int16_t> counts{0, 3};

  DblClickRig() {
    mail.redim(1, 3);
    for (int m = 1; m <= 3; ++m) {
      mail.at(1, m).From = u"f";
      mail.at(1, m).Subject = u"s" + decimal(m);
    }
    mail.at(1, 2).Body = u"body 2";
    FillInput in;
    in.accountno = 1;
    in.lastCount = &counts;
    grid.fillGrid(mail, in);
    viewer.grid = &grid;
    viewer.retrEnabled = [this] { return actions; };
    viewer.setActionsEnabled = [this](bool on) { actions = on; };
  }
  // A click on a row as the popup handles it.
  void click(int row) {
    grid.toggleMark(row, mail);
    actions = grid.anyMarked();
  }
  // Windows delivers a double-click as a click, then the double-click.
  void doubleClick(int row) {
    click(row);
    viewer.lvwMailBox_DblClick(row);
  }
};

TEST(ViewerDoubleClick, Cases) {
  const struct {
    const char* name;
    std::vector<int> clicksBefore;
    int row;
    bool opened;
    bool rowMarked;    // the double-clicked row after it
    bool otherMarked;  // row 3 after it
  } cases[] = {
      {"unmarked retrieved row opens", {}, 2, true, false, false},
      {"the only marked row: nothing", {2}, 2, false, false, false},
      {"not retrieved: mark goes, nothing opens", {}, 1, false, false, false},
      {"other marks stay", {3}, 2, true, false, true},
  };
  for (auto& c : cases) {
    DblClickRig rig;
    for (int r : c.clicksBefore) rig.click(r);
    rig.doubleClick(c.row);
    EXPECT_EQ(rig.view.shown.size(), c.opened ? 1u : 0u) << c.name;
    if (c.opened) {
      EXPECT_EQ(rig.view.shown[0], "Subject: s2\r\n   From: f\r\n\r\nbody 2") << c.name;
    }
    EXPECT_EQ(rig.grid.row(c.row).marked, c.rowMarked) << c.name;
    EXPECT_EQ(rig.mail.at(1, c.row).Marked != 0, c.rowMarked) << c.name;
    EXPECT_EQ(rig.grid.row(3).marked, c.otherMarked) << c.name;
    EXPECT_FALSE(rig.actions) << c.name;  // off even with other marks left
  }
}

TEST(ViewerDoubleClick, LogButtonShowsTheLogAndEachUseReplacesTheText) {
  DblClickRig rig;
  rig.viewer.LogBt_Click(u"USER a\r\nQUIT\r\n");
  rig.doubleClick(2);
  ASSERT_EQ(rig.view.shown.size(), 2u);
  EXPECT_EQ(rig.view.shown[0], "USER a\r\nQUIT\r\n");
  EXPECT_EQ(rig.view.shown[1], "Subject: s2\r\n   From: f\r\n\r\nbody 2");
  EXPECT_FALSE(rig.viewer.showMessage(1, 9));  // outside the table
  EXPECT_FALSE(rig.viewer.showMessage(0, 0));
}

}  // namespace
}  // namespace tarvi
