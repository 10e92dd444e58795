#include "monitor/popup/viewer_model.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_store.h"
#include "tests/fakes/fake_timers.h"

namespace tarvi {
namespace {

MailItem item(const char* subject, const char* from, const char* body, bool attach = false,
              const char* names = "") {
  return {fromUtf8(from), fromUtf8(subject), false, attach, fromUtf8(names), fromUtf8(body), {}, {}, false};
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
      {item("s", "f", "", true, "\"a\" "), nullptr},  // the multipart guess only
  };
  for (auto& c : cases) {
    const auto t = viewerText(c.item);
    ASSERT_EQ(t.has_value(), c.text != nullptr) << toUtf8(c.item.subject);
    if (t) {
      EXPECT_EQ(toUtf8(*t), c.text);
    }
  }
}

// The popup's list with three messages of account 1, message 2 retrieved,
// clicked and double-clicked through the popup as the window forwards them.
struct ViewerRig {
  fakes::FakeStore store;
  fakes::FakeTimerDriver driver;
  Timers timers{driver};
  fakes::FakeWindow window;
  fakes::FakeViewer view;
  MonitorState state;
  Popup popup{{store, timers, window, window}, state};
  MessageViewer viewer{state.accounts, view};

  ViewerRig() {
    state.options.accountCount = 1;
    state.accounts.resize(1);
    AccountState& a = *state.accounts.find(1);
    a.lastCount = 3;
    for (int m = 1; m <= 3; ++m) {
      a.mail.find(m)->sender = u"f";
      a.mail.find(m)->subject = u"s" + decimal(m);
    }
    a.mail.find(2)->body = u"body 2";
    popup.fillGrid();
  }
  MailItem& mail(int m) { return *state.accounts.find(1)->mail.find(m); }
  // Windows delivers a double-click as a click, then the double-click.
  void doubleClick(int row) {
    popup.clickRow(row);
    viewer.openRow(popup.grid, row, window);
  }
};

TEST(MessageViewer, DoubleClickOpensARetrievedRowAndTakesItsMarkOff) {
  const struct {
    const char* name;
    std::vector<int> clicksBefore;
    int row;
    bool opened;
    bool otherMarked;  // row 3 after it
  } cases[] = {
      {"unmarked retrieved row opens", {}, 2, true, false},
      // Its click took the only mark off, and the buttons with it.
      {"the only marked row: nothing", {2}, 2, false, false},
      {"not retrieved: the mark goes, nothing opens", {}, 1, false, false},
      {"other marks stay", {3}, 2, true, true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    ViewerRig rig;
    for (int r : c.clicksBefore) rig.popup.clickRow(r);
    rig.doubleClick(c.row);
    ASSERT_EQ(rig.view.shown.size(), c.opened ? 1u : 0u);
    if (c.opened) {
      EXPECT_EQ(rig.view.shown[0], "Subject: s2\r\n   From: f\r\n\r\nbody 2");
    }
    EXPECT_FALSE(rig.popup.grid.row(c.row).marked);
    EXPECT_FALSE(rig.mail(c.row).marked);
    EXPECT_EQ(rig.popup.grid.row(3).marked, c.otherMarked);
    EXPECT_EQ(rig.mail(3).marked, c.otherMarked);
    EXPECT_FALSE(rig.window.actions);  // off even with other marks left
  }
}

TEST(MessageViewer, LogAndEachMessageReplaceTheText) {
  ViewerRig rig;
  rig.viewer.showLog(u"USER a\r\nQUIT\r\n");
  rig.doubleClick(2);
  EXPECT_EQ(rig.view.shown, (std::vector<std::string>{"USER a\r\nQUIT\r\n",
                                                      "Subject: s2\r\n   From: f\r\n\r\nbody 2"}));
  for (auto [a, m] : {std::pair{1, 11}, {2, 1}, {0, 0}, {1, 1}})  // outside, or not retrieved
    EXPECT_FALSE(rig.viewer.showMessage(a, m)) << a << "," << m;
  EXPECT_EQ(rig.view.shown.size(), 2u);
}

}  // namespace
}  // namespace tarvi
