#include "monitor/mail/popup_model.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_store.h"

namespace tarvi {
namespace {

using popup_layout::Rect;
using Rows = std::vector<std::pair<int, int>>;

Rows order(const PopupGrid& g) {
  Rows r;
  for (int i = 1; i < g.rowCount(); ++i) r.emplace_back(g.row(i).account, g.row(i).msgno);
  return r;
}

std::string newMarks(const PopupGrid& g) {
  std::string s;
  for (int i = 1; i < g.rowCount(); ++i) s += g.cell(i, 0) == u"N" ? 'N' : '.';
  return s;
}

struct GridTest : ::testing::Test {
  MailList mail;
  PopupGrid grid;
  std::vector<std::int16_t> last{0, 0, 0};
  std::vector<std::int32_t> fore{0, 0x0000FF, 0x00FF00};
  std::vector<std::int32_t> back{0, 0xFFFF80, 0x123456};
  FillInput in;

  void SetUp() override {
    mail.redim(2);
    for (int a = 1; a <= 2; ++a)
      for (int m = 1; m <= 10; ++m) {
        mail.at(a, m).From = u"from" + decimal(a) + u"-" + decimal(m);
        mail.at(a, m).Subject = u"件名" + decimal(m);
      }
    in.accountno = 2;
    in.lastCount = &last;
    in.Scolor1 = &fore;
    in.Scolor2 = &back;
  }
  void fill(std::int16_t a1, std::int16_t a2) {
    last = {0, a1, a2};
    grid.fillGrid(mail, in);
  }
};

TEST_F(GridTest, RowOrderFollowsOption9) {
  struct Case {
    bool newestFirst;
    Rows rows;
  } cases[] = {
      {true, {{1, 3}, {1, 2}, {1, 1}, {2, 2}, {2, 1}}},
      {false, {{1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 2}}},
  };
  for (const auto& c : cases) {
    in.newestFirst = c.newestFirst;
    fill(3, 2);
    EXPECT_EQ(order(grid), c.rows) << c.newestFirst;
    EXPECT_EQ(grid.cell(1, 3), mail.at(c.rows[0].first, c.rows[0].second).From);
  }
}

TEST_F(GridTest, NewMarksFollowTheCountOfThePreviousFill) {
  struct Step {
    std::int16_t a1, a2;
    bool noNotify;
    const char* marks;
  } steps[] = {
      {3, 0, false, "NNN"},     // first fill: everything is new
      {5, 0, false, "...NN"},   // two arrived in an account that had three
      {5, 0, false, "....."},   // nothing changed
      {5, 2, true, "......."},  // after a delete run nothing is announced
      {5, 3, false, ".......N"},
      {2, 3, false, "NN..."},   // messages went away: the account starts afresh
  };
  for (const auto& s : steps) {
    in.noNotify = s.noNotify;
    fill(s.a1, s.a2);
    EXPECT_EQ(newMarks(grid), s.marks) << s.a1 << "," << s.a2;
  }
}

TEST_F(GridTest, NewMarksWithNewestFirst) {
  in.newestFirst = true;
  fill(3, 0);
  fill(5, 0);
  EXPECT_EQ(newMarks(grid), "NN...");
}

TEST_F(GridTest, CellsColoursBoldAndPicture) {
  mail.at(1, 2).Body = u"本文";
  mail.at(2, 1).HasAttach = true;
  fill(2, 1);
  ASSERT_EQ(grid.rowCount(), 4);
  const Text header[] = {u"", u"", u"", u"差出人", u"件名", u"", u""};
  for (int c = 0; c < 7; ++c) EXPECT_EQ(grid.cell(0, c), header[c]);
  EXPECT_EQ(grid.cell(3, 5), u"2");
  EXPECT_EQ(grid.cell(3, 6), u"1");
  EXPECT_EQ(grid.cell(2, 4), u"件名2");
  EXPECT_EQ(grid.cell(3, 2), u"");
  EXPECT_EQ(grid.cell(1, 1), u"");
  struct Expect {
    std::int32_t fore, back;
    bool bold, picture;
  } rows[] = {{0x0000FF, 0xFFFF80, false, false},
              {0x0000FF, 0xFFFF80, true, false},
              {0x00FF00, 0x123456, false, true}};
  for (int r = 1; r <= 3; ++r) {
    const auto& e = rows[r - 1];
    EXPECT_EQ(grid.row(r).fore, e.fore) << r;
    EXPECT_EQ(grid.row(r).back, e.back) << r;
    EXPECT_EQ(grid.row(r).bold, e.bold) << r;
    EXPECT_EQ(grid.row(r).picture, e.picture) << r;
  }
}

TEST_F(GridTest, CountsBeyondTheTableGiveNoRows) {
  fill(15, 0);  // the table holds 10 messages per account
  EXPECT_EQ(grid.rowCount(), 11);
  for (int r = 1; r < grid.rowCount(); ++r) EXPECT_NE(mail.find(1, grid.row(r).msgno), nullptr);
  in.accountno = 3;  // an account the table does not know
  last.push_back(2);
  grid.fillGrid(mail, in);
  EXPECT_EQ(grid.rowCount(), 11);
}

TEST_F(GridTest, MarksLiveInCellAndRecordTogether) {
  fill(3, 0);
  EXPECT_EQ(grid.toggleMark(2, mail), 1);
  EXPECT_EQ(grid.cell(2, 1), u"○");
  EXPECT_EQ(mail.at(1, 2).Marked, -1);
  EXPECT_TRUE(grid.anyMarked());
  grid.toggleMark(2, mail);
  EXPECT_EQ(grid.cell(2, 1), u"");
  EXPECT_EQ(mail.at(1, 2).Marked, 0);
  EXPECT_FALSE(grid.anyMarked());
  EXPECT_EQ(grid.toggleMark(0, mail), 0);  // the header
  EXPECT_EQ(grid.toggleMark(4, mail), 0);  // past the last row
  grid.toggleMark(1, mail);
  grid.toggleMark(3, mail);
  mail.at(1, 3).Body = u"x";
  grid.refreshMarks(mail);
  EXPECT_FALSE(grid.anyMarked());
  EXPECT_EQ(mail.at(1, 1).Marked, 0);
  EXPECT_EQ(mail.at(1, 3).Marked, 0);
  EXPECT_TRUE(grid.row(3).bold);
}

TEST_F(GridTest, LinearCellIndex) {
  fill(2, 0);
  EXPECT_EQ(grid.faIndex(2, 1), 15);
  grid.toggleMark(2, mail);
  EXPECT_EQ(grid.cellAt(grid.faIndex(2, 1)), u"○");
  EXPECT_EQ(grid.cellAt(grid.faIndex(1, 3)), u"from1-1");
  EXPECT_EQ(grid.cellAt(grid.faIndex(0, 4)), u"件名");
  EXPECT_EQ(grid.cellAt(-1), u"");
  EXPECT_EQ(grid.cellAt(grid.faIndex(3, 0)), u"");
}

TEST(Layout, ScrollBarTest) {
  struct Case {
    int heightPx, rowPx, total;
    bool needs;
  } cases[] = {{160, 16, 9, false}, {160, 16, 10, true}, {160, 16, 30, true},
               {160, 16, 0, false}, {160, 0, 30, false}, {17, 16, 0, false}};
  for (const auto& c : cases)
    EXPECT_EQ(popup_layout::needsScrollBar(c.heightPx, c.rowPx, c.total), c.needs)
        << c.heightPx << "/" << c.rowPx << " " << c.total;
}

TEST(Layout, FormResize) {
  const Rect grid{0, 20, 572, 241}, ok{8, 264, 556, 17};
  auto r = popup_layout::formResize(8730, 4710, 15, 15, 96, grid, ok);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->grid, (Rect{0, 20, 574, 244}));
  EXPECT_EQ(r->ok, (Rect{8, 267, 556, 17}));
  EXPECT_EQ(r->logLeft, 552);
  auto big = popup_layout::formResize(14400, 9600, 12, 12, 120, grid, ok);
  ASSERT_TRUE(big);
  EXPECT_EQ(big->grid, (Rect{0, 20, 1190, 712}));  // margins of 10 and 88 px at 120 DPI
  const std::pair<int, int> tooSmall[] = {{8730, 1500}, {1000, 4710}, {900, 900}};
  for (auto [w, h] : tooSmall) EXPECT_FALSE(popup_layout::formResize(w, h, 15, 15, 96, grid, ok));
  EXPECT_TRUE(popup_layout::formResize(1001, 1501, 15, 15, 96, grid, ok));
}

// The window as it is shown: sized from the stored twips, controls placed
// at the DPI, the resize fed the client size plus the classic frame.
TEST(Layout, OkGridAndLogButtonStayInsideTheClientArea) {
  using namespace popup_layout;
  struct Size {
    int twipsW, twipsH;
  } sizes[] = {{8730, 4710}, {12000, 7000}, {1500, 1800}};
  // What a themed frame takes beyond the classic one does not matter: the
  // window reports its client size.
  const int themedExtra[] = {0, 6};
  for (int dpi : {96, 120, 144, 168, 192})
    for (const auto& sz : sizes)
      for (int extra : themedExtra) {
        const int twips = 1440 / dpi;  // as the monitor measures at start-up
        const int clientW = mulDiv(sz.twipsW, dpi, 1440) - scaled(kClassicFrameX, dpi) - extra;
        const int clientH = mulDiv(sz.twipsH, dpi, 1440) - scaled(kClassicFrameY, dpi) - extra;
        const int layoutW = clientW + scaled(kClassicFrameX, dpi);
        const int layoutH = clientH + scaled(kClassicFrameY, dpi);
        const Rect log = atDpi(kLogBt, dpi);
        auto r = formResize(layoutW * twips, layoutH * twips, twips, twips, dpi,
                            atDpi(kGrid, dpi), atDpi(kOkBt, dpi));
        ASSERT_TRUE(r) << dpi;
        const std::string at = std::to_string(dpi) + " DPI, " + std::to_string(sz.twipsW) + "x" +
                               std::to_string(sz.twipsH) + " +" + std::to_string(extra);
        // The arithmetic leaves the OK button's last pixel row under the
        // bottom edge at 96 DPI already; scaled and rounded that may grow to
        // two 96-DPI pixels, never more.
        EXPECT_LE(r->ok.top + r->ok.height, clientH + scaled(2, dpi)) << at;
        EXPECT_GE(r->ok.top, r->grid.top + r->grid.height) << at;
        EXPECT_GT(r->ok.height, 0) << at;
        EXPECT_LE(r->grid.left + r->grid.width, clientW) << at;
        EXPECT_LE(r->ok.left + r->ok.width, clientW) << at;
        EXPECT_LE(r->logLeft + log.width, clientW) << at;
        EXPECT_GE(r->logLeft, 0) << at;
      }
}

TEST(Layout, StoredWindowSizeSurvivesLoadAndSave) {
  for (int dpi : {96, 120, 144, 168, 192})
    for (int twips : {8730, 4710, 8152, 1501, 20000}) {
      const int px = popup_layout::mulDiv(twips, dpi, 1440);  // the load
      EXPECT_EQ(popup_layout::windowTwips(twips, px, dpi), twips) << dpi << " " << twips;
      // A size the user changed is saved so that it loads back as it was,
      // and saving it again keeps it.
      for (int resized : {px - 1, px + 1, px + 37}) {
        const int saved = popup_layout::windowTwips(twips, resized, dpi);
        EXPECT_EQ(popup_layout::mulDiv(saved, dpi, 1440), resized) << dpi << " " << twips;
        EXPECT_EQ(popup_layout::windowTwips(saved, resized, dpi), saved) << dpi << " " << twips;
      }
    }
}

TEST(Layout, ColumnWidthRoundTripDoesNotDrift) {
  struct Case {
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
    EXPECT_EQ(popup_layout::columnTwips(c.remembered, c.px, c.dpi), c.twips) << c.remembered;
  // Whatever the user drags a column to is shown at that width again.
  for (int dpi : {96, 120, 144, 168, 192})
    for (int px = 0; px < 800; ++px)
      EXPECT_EQ(popup_layout::columnPx(popup_layout::columnTwips(-1, px, dpi), dpi), px) << dpi;
}

TEST(Layout, DefaultColumnsFitTheListAtEveryDpi) {
  // With whole twips per pixel (7 at 192 DPI instead of 7.5) the columns
  // grew 7% wider than the list, which then needed a horizontal scroll bar.
  const int defaults[] = {260, 260, 130, 2740, 4770, 300};
  for (int dpi : {96, 120, 144, 168, 192}) {
    int sum = 0;
    for (int w : defaults) sum += popup_layout::columnPx(w, dpi);
    EXPECT_LE(sum, popup_layout::atDpi(popup_layout::kGrid, dpi).width) << dpi;
  }
}

// The popup's handlers through a recording window.
struct Recorder : Pump, Dialogs, Processes, MainView, KeyboardLamp, PopupView {
  std::vector<std::string> log;
  std::array<int, 7> widthsPx{};
  int heightPx = 241, rowPx = 16;
  std::pair<int, int> size{582, 314};
  Text tip;
  bool actions = false;
  std::optional<popup_layout::Resized> placed;

  void doEvents() override {}
  MsgAnswer messageBox(const Text&, const Text&, MsgButtons, MsgIcon, bool) override {
    return MsgAnswer::Ok;
  }
  Text exeFolder() override { return u"C:"; }
  std::optional<std::uint32_t> start(const Text&) override { return std::nullopt; }
  std::optional<std::uintptr_t> open(std::uint32_t) override { return std::nullopt; }
  std::optional<std::uint32_t> exitCode(std::uintptr_t) override { return std::nullopt; }
  void close(std::uintptr_t) override {}
  void hide() override { log.push_back("hide"); }
  void show() override { log.push_back("show"); }
  void setCaption(const Text&) override {}
  void removeCloseMenu() override {}
  void setMailerEnabled(int, bool) override {}
  void setLogVisible(bool) override {}
  void applyLayout(const std::array<std::int16_t, 6>&, std::int16_t, std::int16_t) override {}
  void unload() override {}
  void scrollLamp(int m) override { log.push_back("lamp " + std::to_string(m)); }
  void setGridRedraw(bool on) override { log.push_back(on ? "redraw on" : "redraw off"); }
  void rowsChanged(int n) override { log.push_back("rows " + std::to_string(n)); }
  void setColumnWidthsPx(const std::array<int, 7>& px) override { widthsPx = px; }
  std::array<int, 7> columnWidthsPx() override { return widthsPx; }
  int gridHeightPx() override { return heightPx; }
  int rowHeightPx() override { return rowPx; }
  int dpiValue = 96;
  int dpi() override { return dpiValue; }
  std::pair<int, int> windowSizePx() override { return size; }
  std::pair<int, int> layoutSizePx() override { return size; }
  void setGridTooltip(const Text& t) override { tip = t; }
  void setActionsEnabled(bool on) override { actions = on; }
  void placeControls(const popup_layout::Resized& r) override { placed = r; }
  Rect gridRectPx() override { return {0, 20, 572, 241}; }
  Rect okRectPx() override { return {8, 264, 556, 17}; }
};

struct PopupTest : ::testing::Test {
  fakes::FakeStore store;
  fakes::FakeClock clock;
  Recorder v;
  MailForm form{{store, clock, v, v, v, v, v}};
  Popup popup{form, v};
  MailList mail;
  std::vector<std::int16_t> last{0, 30};
  std::int32_t total = 30;

  void SetUp() override {
    form.initialize(false, 15, 15);
    form.opt.accountno = 1;
    form.Scolor1 = {0, 0};
    form.Scolor2 = {0, 0};
    mail.redim(1, 30);
    popup.mailList = &mail;
    popup.lastCount = [this](int a) { return last[static_cast<std::size_t>(a)]; };
    popup.mailTotal = [this] { return total; };
    popup.noNotify = [] { return false; };
    popup.initialize();
    clock.dispatch = [this](TimerId id) {
      if (id == TimerId::closetimer) popup.closetimer_Timer();
    };
    store.set("Aname1", "仕事");
  }
};

TEST_F(PopupTest, SubjectGivesRoomToTheScrollBarButIsStoredWhole) {
  popup.initGrid();  // 30 messages, 241 / 16 = 15 rows
  EXPECT_TRUE(popup.grid.allowanceApplied());
  EXPECT_EQ(popup.grid.widths()[4], 4770 - 180);
  EXPECT_EQ(v.widthsPx[4], (4770 - 180) / 15);
  EXPECT_EQ(v.widthsPx[6], 0);
  popup.fillGrid();
  total = 0;  // a retrieve run resets the total while the rows stay
  popup.OkBt_Click();
  EXPECT_EQ(store.at("grdWidth4"), "4770");
  EXPECT_EQ(store.at("grdWidth0"), "260");
  EXPECT_EQ(store.at("frmWidth"), "8730");
  EXPECT_EQ(store.at("frmHeight"), "4710");
  EXPECT_EQ(v.log.back(), "hide");
  // A second OK stores the same again.
  popup.OkBt_Click();
  EXPECT_EQ(store.at("grdWidth4"), "4770");
}

TEST_F(PopupTest, FewMessagesKeepTheFullSubjectWidth) {
  total = 5;
  popup.initGrid();
  EXPECT_FALSE(popup.grid.allowanceApplied());
  v.widthsPx[3] = 200;  // the user widened the sender column
  popup.saveLayout();
  EXPECT_EQ(store.at("grdWidth4"), "4770");
  EXPECT_EQ(store.at("grdWidth3"), "3000");
}

TEST_F(PopupTest, SubjectNarrowerThanTheAllowanceIsShownClosedAndStoredUnchanged) {
  form.opt.grdWidth[4] = 100;  // 80 twips short of the scroll bar
  popup.initGrid();
  EXPECT_EQ(v.widthsPx[4], 0);  // a negative width would make the list fit the contents
  popup.saveLayout();
  EXPECT_EQ(store.at("grdWidth4"), "100");
  v.widthsPx[4] = 20;  // the user opened it
  popup.saveLayout();
  EXPECT_EQ(store.at("grdWidth4"), std::to_string(20 * 15 + 180));
}

TEST_F(PopupTest, WindowSizeIsStoredUnchangedAtEveryDpi) {
  for (int dpi : {96, 120, 144, 168, 192}) {
    form.initialize(false, 1440 / dpi, 1440 / dpi);
    v.dpiValue = dpi;
    v.size = {popup_layout::mulDiv(8730, dpi, 1440), popup_layout::mulDiv(4710, dpi, 1440)};
    for (int save = 0; save < 3; ++save) popup.saveLayout();
    EXPECT_EQ(store.at("frmWidth"), "8730") << dpi;
    EXPECT_EQ(store.at("frmHeight"), "4710") << dpi;
  }
}

TEST_F(PopupTest, ClickTogglesAndShowsTheAccount) {
  popup.fillGrid();
  popup.lvwMailBox_Click(3);
  EXPECT_TRUE(v.actions);
  EXPECT_EQ(v.tip, u"ｱｶｳﾝﾄ：仕事");
  EXPECT_EQ(mail.at(1, 3).Marked, -1);
  popup.lvwMailBox_Click(3);
  EXPECT_FALSE(v.actions);
  EXPECT_EQ(mail.at(1, 3).Marked, 0);
  popup.lvwMailBox_Click(1);
  popup.lvwMailBox_Click(2);
  popup.lvwMailBox_Click(1);
  EXPECT_TRUE(v.actions);  // row 2 still marked
  popup.lvwMailBox_Click(99);
  EXPECT_TRUE(v.actions);
}

TEST_F(PopupTest, CloseTimer) {
  struct Case {
    std::int16_t val;
    std::uint64_t hiddenAfterMs;  // 0: never
  } cases[] = {{10, 10000}, {0, 0}, {1, 1000}};
  for (const auto& c : cases) {
    form.opt.Closetimerval = c.val;
    v.log.clear();
    popup.showNewMail();
    EXPECT_EQ(v.log, std::vector<std::string>{"show"});
    clock.advance(c.hiddenAfterMs ? c.hiddenAfterMs - 1 : 120000);
    EXPECT_EQ(v.log.size(), 1u) << c.val;
    if (!c.hiddenAfterMs) {
      form.timers.disable(TimerId::closetimer);
      popup.closeCount = 0;
      continue;
    }
    clock.advance(1);
    EXPECT_EQ(v.log.back(), "hide") << c.val;
    EXPECT_FALSE(clock.running(TimerId::closetimer));
    EXPECT_EQ(popup.closeCount, 0);
  }
}

TEST_F(PopupTest, ResizeBelowTheLimitKeepsTheLayout) {
  v.size = {66, 100};  // 990 x 1500 twips
  popup.Form_Resize();
  EXPECT_FALSE(v.placed);
  v.size = {600, 400};
  popup.Form_Resize();
  ASSERT_TRUE(v.placed);
  EXPECT_EQ(v.placed->grid.height, 330);
}

}  // namespace
}  // namespace tarvi
