#include "monitor/popup/popup_model.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_store.h"
#include "tests/fakes/fake_timers.h"

namespace tarvi {
namespace {

using namespace popup_layout;
using Rows = std::vector<std::pair<int, int>>;
const int kDpis[] = {96, 120, 144, 168, 192};

// Two accounts of ten listed messages each, in their own colours.
struct GridTest : ::testing::Test {
  AccountTable accounts;
  PopupGrid grid;
  FillInput in{2, false};

  void SetUp() override {
    accounts.resize(2);
    for (int a = 1; a <= 2; ++a) {
      AccountState& r = *accounts.find(a);
      r.textColor = a == 1 ? 0x0000FF : 0x00FF00;
      r.backColor = a == 1 ? 0xFFFF80 : 0x123456;
      for (int m = 1; m <= 10; ++m) {
        r.mail.find(m)->sender = u"from" + decimal(a) + u"-" + decimal(m);
        r.mail.find(m)->subject = u"件名" + decimal(m);
      }
    }
  }
  MailItem& mail(int a, int m) { return *accounts.find(a)->mail.find(m); }
  void fill(std::int64_t a1, std::int64_t a2) {
    accounts.find(1)->lastCount = a1;
    accounts.find(2)->lastCount = a2;
    grid.fillGrid(accounts, in);
  }
  Rows order() const {
    Rows r;
    for (int i = 1; i < grid.rowCount(); ++i)
      r.emplace_back(grid.row(i).account, grid.row(i).msgno);
    return r;
  }
  std::string newMarks() const {
    std::string s;
    for (int i = 1; i < grid.rowCount(); ++i) s += grid.cell(i, 0) == kNewMark ? 'N' : '.';
    return s;
  }
};

TEST_F(GridTest, EachAccountsBlockInTheChosenOrder) {
  in.newestFirst = true;
  fill(3, 2);
  EXPECT_EQ(order(), (Rows{{1, 3}, {1, 2}, {1, 1}, {2, 2}, {2, 1}}));
  EXPECT_EQ(grid.cell(1, 3), u"from1-3");
  in.newestFirst = false;
  fill(3, 2);
  EXPECT_EQ(order(), (Rows{{1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 2}}));
}

TEST_F(GridTest, NewMarksFollowTheCountOfThePreviousFill) {
  const struct {
    std::int64_t a1, a2;
    bool quiet;
    const char* marks;
  } steps[] = {
      {3, 0, false, "NNN"},     // first fill: everything is new
      {5, 0, false, "...NN"},   // two arrived in an account that had three
      {5, 0, false, "....."},   // nothing changed
      {5, 2, true, "......."},  // the mailbox a delete run changed is not announced
      {5, 3, false, ".......N"},
      {2, 3, false, "NN..."},   // messages went away: the account starts afresh
  };
  for (const auto& s : steps) {
    accounts.find(2)->quietNextCheck = s.quiet;
    fill(s.a1, s.a2);
    EXPECT_EQ(newMarks(), s.marks) << s.a1 << "," << s.a2;
    EXPECT_EQ(accounts.find(1)->shownCount, s.a1);
    EXPECT_EQ(accounts.find(2)->shownCount, s.a2);
  }
  in.newestFirst = true;
  fill(4, 3);
  EXPECT_EQ(newMarks(), "NN.....");
}

TEST_F(GridTest, CellsColoursBoldAndPicture) {
  mail(1, 2).body = u"本文";
  mail(2, 1).hasAttachment = true;
  fill(2, 1);
  ASSERT_EQ(grid.rowCount(), 4);
  grid.toggleMark(2, accounts);
  const struct {
    int row, col;
    Text text;
  } cells[] = {{0, 0, u""},   {0, 3, u"差出人"}, {0, 4, u"件名"},   {0, 6, u""},
               {1, 0, u"N"},  {1, 1, u""},       {2, 1, u"○"},     {1, 3, u"from1-1"},
               {2, 4, u"件名2"}, {3, 2, u""},    {3, 5, u"2"},     {3, 6, u"1"},
               {4, 3, u""},   {1, 7, u""},       {1, -1, u""},     {-1, 3, u""}};
  for (const auto& c : cells) {
    EXPECT_EQ(grid.cell(c.row, c.col), c.text) << c.row << "," << c.col;
    // The list view asks by the linear index; column 7 would be the next row's 0.
    if (c.col >= 0 && c.col < PopupGrid::kColumns && c.row >= 0) {
      EXPECT_EQ(grid.cellAt(grid.faIndex(c.row, c.col)), c.text) << c.row << "," << c.col;
    }
  }
  EXPECT_EQ(grid.faIndex(2, 1), 15);
  EXPECT_EQ(grid.cellAt(-1), u"");
  using Style = std::tuple<std::int32_t, std::int32_t, bool, bool>;  // fore, back, bold, picture
  const Style styles[] = {{0x0000FF, 0xFFFF80, false, false},
                          {0x0000FF, 0xFFFF80, true, false},
                          {0x00FF00, 0x123456, false, true}};
  for (int r = 1; r <= 3; ++r) {
    const GridRow& g = grid.row(r);
    EXPECT_EQ(Style(g.fore, g.back, g.bold, g.picture), styles[r - 1]) << r;
  }
}

TEST_F(GridTest, CountsBeyondTheListGiveNoRows) {
  fill(15, 0);  // the lists hold 10 messages
  EXPECT_EQ(grid.rowCount(), 11);
  in.accountCount = 3;  // an account without a record
  grid.fillGrid(accounts, in);
  EXPECT_EQ(grid.rowCount(), 11);
}

TEST_F(GridTest, MarksLiveInRowAndRecordTogether) {
  fill(3, 0);
  EXPECT_EQ(grid.toggleMark(2, accounts), 1);
  EXPECT_EQ(grid.cell(2, 1), kMarked);
  EXPECT_TRUE(mail(1, 2).marked);
  EXPECT_TRUE(grid.anyMarked());
  grid.toggleMark(2, accounts);
  EXPECT_EQ(grid.cell(2, 1), u"");
  EXPECT_FALSE(mail(1, 2).marked);
  EXPECT_FALSE(grid.anyMarked());
  EXPECT_EQ(grid.toggleMark(0, accounts), 0);  // the header
  EXPECT_EQ(grid.toggleMark(4, accounts), 0);  // past the last row
  grid.toggleMark(1, accounts);
  grid.toggleMark(3, accounts);
  mail(1, 3).body = u"x";
  grid.refreshMarks(accounts);
  EXPECT_FALSE(grid.anyMarked());
  EXPECT_FALSE(mail(1, 1).marked);
  EXPECT_FALSE(mail(1, 3).marked);
  EXPECT_TRUE(grid.row(3).bold);
}

TEST(Layout, ScrollBarWhenTheRowsDoNotFitBelowTheHeader) {
  const struct {
    int heightPx, rowPx, total;
    bool needs;
  } cases[] = {{160, 16, 9, false}, {160, 16, 10, true}, {160, 16, 30, true},
               {160, 16, 0, false}, {160, 0, 30, false}, {17, 16, 0, false}};
  for (const auto& c : cases)
    EXPECT_EQ(needsScrollBar(c.heightPx, c.rowPx, c.total), c.needs)
        << c.heightPx << "/" << c.rowPx << " " << c.total;
}

TEST(Layout, FormResize) {
  const Rect grid{0, 20, 572, 241}, ok{8, 264, 556, 17};
  auto r = formResize(8730, 4710, 15, 15, 96, grid, ok);
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, (Resized{{0, 20, 574, 244}, {8, 267, 556, 17}, 552}));
  auto big = formResize(14400, 9600, 12, 12, 120, grid, ok);
  ASSERT_TRUE(big);
  EXPECT_EQ(big->grid, (Rect{0, 20, 1190, 712}));  // margins of 10 and 88 px at 120 DPI
  for (auto [w, h] : {std::pair{8730, 1500}, {1000, 4710}, {900, 900}})
    EXPECT_FALSE(formResize(w, h, 15, 15, 96, grid, ok)) << w << "x" << h;
  EXPECT_TRUE(formResize(1001, 1501, 15, 15, 96, grid, ok));
}

// The window as it is shown: sized from the stored twips, controls placed
// at the DPI, the resize fed the client size plus the classic frame. What
// a themed frame takes beyond the classic one does not matter: the window
// reports its client size.
TEST(Layout, OkGridAndLogButtonStayInsideTheClientArea) {
  for (int dpi : kDpis)
    for (auto [twipsW, twipsH] : {std::pair{8730, 4710}, {12000, 7000}, {1500, 1800}})
      for (int themedExtra : {0, 6}) {
        const std::string at = std::to_string(dpi) + " DPI, " + std::to_string(twipsW) + "x" +
                               std::to_string(twipsH) + " +" + std::to_string(themedExtra);
        const int twips = 1440 / dpi;  // as the monitor measures at start-up
        const int clientW = mulDiv(twipsW, dpi, 1440) - scaled(kClassicFrameX, dpi) - themedExtra;
        const int clientH = mulDiv(twipsH, dpi, 1440) - scaled(kClassicFrameY, dpi) - themedExtra;
        auto r = formResize((clientW + scaled(kClassicFrameX, dpi)) * twips,
                            (clientH + scaled(kClassicFrameY, dpi)) * twips, twips, twips, dpi,
                            atDpi(kListRect, dpi), atDpi(kCloseRect, dpi));
        ASSERT_TRUE(r) << at;
        // The arithmetic leaves the OK button's last pixel row under the
        // bottom edge at 96 DPI already; scaled and rounded that may grow to
        // two 96-DPI pixels, never more.
        EXPECT_LE(r->ok.top + r->ok.height, clientH + scaled(2, dpi)) << at;
        EXPECT_GE(r->ok.top, r->grid.top + r->grid.height) << at;
        EXPECT_GT(r->ok.height, 0) << at;
        EXPECT_LE(r->grid.left + r->grid.width, clientW) << at;
        EXPECT_LE(r->ok.left + r->ok.width, clientW) << at;
        EXPECT_LE(r->logLeft + atDpi(kLogRect, dpi).width, clientW) << at;
        EXPECT_GE(r->logLeft, 0) << at;
      }
}

TEST(Layout, ColumnWidthRoundTripDoesNotDrift) {
  const struct {
    int remembered, px, dpi, twips;
  } cases[] = {{260, 17, 96, 260},   // 17.3 px shown as 17: the stored width stays
               {260, 21, 120, 260},
               {260, 30, 96, 450},   // the user widened the column
               {4770, 318, 96, 4770},
               {0, 0, 96, 0},
               {2740, 365, 192, 2740},  // 365.3 px
               {2740, 366, 192, 2745},  // widened by one pixel
               {2740, 364, 192, 2730}};
  for (const auto& c : cases)
    EXPECT_EQ(columnTwips(c.remembered, c.px, c.dpi), c.twips) << c.remembered;
  // Whatever the user drags a column to is shown at that width again.
  for (int dpi : kDpis)
    for (int px = 0; px < 800; ++px) EXPECT_EQ(columnPx(columnTwips(-1, px, dpi), dpi), px) << dpi;
}

TEST(Layout, DefaultColumnsFitTheListAtEveryDpi) {
  // With whole twips per pixel (7 at 192 DPI instead of 7.5) the columns
  // grew 7% wider than the list, which then needed a horizontal scroll bar.
  for (int dpi : kDpis) {
    int sum = 0;
    for (int w : kDefaultGridWidths) sum += columnPx(w, dpi);
    EXPECT_LE(sum, atDpi(kListRect, dpi).width) << dpi;
  }
}

// The popup's handlers on the main window, one account named 仕事 with 30
// listed messages; the list shows 241 / 16 = 15 rows.
struct PopupTest : ::testing::Test {
  fakes::FakeStore store;
  fakes::FakeTimerDriver driver;
  Timers timers{driver};
  fakes::FakeWindow window;
  MonitorState state;
  Popup popup{{store, timers, window, window}, state};

  void SetUp() override {
    state.options.accountCount = 1;
    state.accounts.resize(1);
    state.accounts.find(1)->lastCount = 30;
    state.accounts.find(1)->mail.ensure(30);
    store.set("Aname1", "仕事");
    popup.initialize();
    driver.onTick = [this](TimerId id) {
      if (id == TimerId::popupAutoClose) popup.onAutoCloseTick();
    };
  }
};

TEST_F(PopupTest, SubjectGivesRoomToTheScrollBarButIsStoredWhole) {
  const struct {
    const char* what;
    std::int64_t mailTotal;
    std::int16_t subject;      // twips, as stored
    int shownPx;               // the subject column as the list shows it
    int dragged, draggedPx;    // a column the user dragged, -1 for none
    const char *stored4, *stored3;
  } cases[] = {
      {"30 rows need the scroll bar", 30, 4770, (4770 - 180) / 15, -1, 0, "4770", "2740"},
      {"5 rows do not; the sender widened", 5, 4770, 4770 / 15, 3, 200, "4770", "3000"},
      // A negative width would make the list fit the column to its contents.
      {"a subject narrower than the room is shown closed", 30, 100, 0, -1, 0, "100", "2740"},
      {"... until the user opens it", 30, 100, 0, 4, 20, "480", "2740"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    state.options.columnWidths = kDefaultGridWidths;
    state.options.columnWidths[4] = c.subject;
    popup.initGrid(c.mailTotal);
    EXPECT_EQ(popup.grid.allowanceApplied(), c.mailTotal > 14);
    EXPECT_EQ(window.columnsPx[4], c.shownPx);
    EXPECT_EQ(window.columnsPx[6], 0);
    if (c.dragged >= 0) window.columnsPx[static_cast<std::size_t>(c.dragged)] = c.draggedPx;
    for (int save = 0; save < 2; ++save) {  // saving again stores the same
      popup.saveLayout();
      EXPECT_EQ(store.at("grdWidth4"), c.stored4);
      EXPECT_EQ(store.at("grdWidth3"), c.stored3);
      EXPECT_EQ(store.at("grdWidth0"), "260");
    }
  }
}

// The window is loaded from twips with mulDiv at its DPI; whatever size it
// has when OK is pressed must load back as it was, and saving it again, or
// saving an unchanged one, must not make it drift where the DPI does not
// divide 1440.
TEST_F(PopupTest, OkHidesAndStoresTheWindowSizeSoThatItLoadsBackAtEveryDpi) {
  for (int dpi : kDpis)
    for (std::int16_t twips : {8730, 4710, 8152, 1501, 20000}) {
      const std::string at = std::to_string(dpi) + " DPI, " + std::to_string(twips);
      window.dpiValue = dpi;
      const int px = mulDiv(twips, dpi, 1440);  // the load
      for (int shown : {px, px - 1, px + 37}) {
        state.options.popupWidth = state.options.popupHeight = twips;
        window.windowPx = {shown, px};
        window.shown = true;
        popup.close();
        EXPECT_FALSE(window.shown);
        const std::string saved = store.at("frmWidth");
        EXPECT_EQ(mulDiv(std::stoi(saved), dpi, 1440), shown) << at;
        if (shown == px) {
          EXPECT_EQ(saved, std::to_string(twips)) << at;
        }
        EXPECT_EQ(store.at("frmHeight"), std::to_string(twips)) << at;
        popup.close();
        EXPECT_EQ(store.at("frmWidth"), saved) << at;
      }
    }
}

TEST_F(PopupTest, ClickTogglesAndShowsTheAccount) {
  popup.fillGrid();
  popup.clickRow(3);
  EXPECT_TRUE(window.actions);
  EXPECT_EQ(window.tooltip, "ｱｶｳﾝﾄ：仕事");
  EXPECT_TRUE(state.accounts.find(1)->mail.find(3)->marked);
  popup.clickRow(3);
  EXPECT_FALSE(window.actions);
  EXPECT_FALSE(state.accounts.find(1)->mail.find(3)->marked);
  popup.clickRow(1);
  popup.clickRow(2);
  popup.clickRow(1);
  EXPECT_TRUE(window.actions);  // row 2 still marked
  popup.clickRow(99);
  EXPECT_TRUE(window.actions);
}

TEST_F(PopupTest, NewMailPopupClosesAfterTheConfiguredSeconds) {
  for (std::int16_t seconds : {10, 1, 10}) {
    state.options.popupCloseSeconds = seconds;
    popup.showNewMail();
    EXPECT_TRUE(window.shown);
    driver.advance(seconds * 1000u - 1);
    EXPECT_TRUE(window.shown) << seconds;
    driver.advance(1);  // the count starts afresh every time
    EXPECT_FALSE(window.shown) << seconds;
    EXPECT_FALSE(driver.running(TimerId::popupAutoClose));
  }
  state.options.popupCloseSeconds = 0;  // it stays
  popup.showNewMail();
  driver.advance(120000);
  EXPECT_TRUE(window.shown);
}

TEST_F(PopupTest, ResizeBelowTheLimitKeepsTheLayout) {
  window.windowPx = {66, 100};  // 990 x 1500 twips
  popup.layoutControls(15, 15);
  EXPECT_EQ(window.placed, Resized{});
  window.windowPx = {600, 400};
  popup.layoutControls(15, 15);
  EXPECT_EQ(window.placed.grid.height, 330);
}

}  // namespace
}  // namespace tarvi
