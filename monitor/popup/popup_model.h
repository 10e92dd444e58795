// The popup's mail list as data: the rows the list shows (texts, marks,
// colours, bold, picture), how they are filled from the mail table, the
// click that marks a row, and the layout arithmetic of the window. The
// Win32 list view only draws what this holds.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "common/settings.h"
#include "common/store.h"
#include "common/text.h"
#include "monitor/services/services.h"
#include "monitor/state/monitor_state.h"

namespace tarvi {

inline constexpr const char16_t* kNewMark = u"N";
inline constexpr const char16_t* kMarked = u"○";
inline constexpr const char16_t* kAccountTipPrefix = u"ｱｶｳﾝﾄ：";
inline constexpr const char16_t* kGridTip =
    u"ｸﾘｯｸでｱｶｳﾝﾄ表示、ﾀﾞﾌﾞﾙｸﾘｯｸで取得したﾒｰﾙを表示します";

// One message row. It names its message by account and number, and by
// what the message is (its identity and unique id as listed), because a
// check running while the popup is open may renumber the list under it.
struct GridRow {
  Text from, subject;
  std::int16_t account = 0, msgno = 0;
  Text identity;
  std::string uid;
  std::int32_t fore = 0, back = 0;  // 0x00BBGGRR
  bool isNew = false;               // "N" in column 0
  bool marked = false;              // "○" in column 1
  bool bold = false;                // sender and subject of a retrieved message
  bool picture = false;             // the attachment picture in column 2
};

struct FillInput {
  int accountCount = 0;
  bool newestFirst = false;  // each account's block in descending order
};

class PopupGrid {
 public:
  static constexpr int kColumns = 7;
  // What the subject column gives up to the vertical scroll bar.
  static constexpr int kScrollAllowance = 180;

  // Rows including the header row 0.
  int rowCount() const { return static_cast<int>(rows_.size()) + 1; }
  // The text of a cell; row 0 is the header. Out of range: empty.
  Text cell(int row, int col) const;
  // The message row r (1..rowCount()-1).
  const GridRow& row(int r) const { return rows_[static_cast<std::size_t>(r - 1)]; }
  std::int32_t faIndex(std::int16_t row, std::int16_t col) const {
    return static_cast<std::int32_t>(row) * kColumns + col;
  }
  // The cell at a linear index of faIndex.
  Text cellAt(std::int32_t index) const;

  // Column widths in twips (column 6 is always 0).
  const std::array<int, kColumns>& widths() const { return widths_; }
  void setWidth(int col, int twips);
  bool allowanceApplied() const { return allowance_; }

  void initGrid(const std::array<std::int16_t, kGridColumns>& stored, bool needsScrollBar);
  // Widths to store: the current ones with the scroll-bar allowance given
  // back when initGrid took it, however the list is scrolled or filled now.
  std::array<std::int16_t, kGridColumns> widthsToStore() const;

  void clear() { rows_.clear(); }
  // The rows of accounts 1..accountCount, each account's messages
  // 1..lastCount; "N" marks those beyond what was listed last time.
  void fillGrid(AccountTable& accounts, const FillInput& in);
  void refreshMarks(AccountTable& accounts);
  // Toggles the mark of a row and of the message it shows; the row's
  // account number, or 0 when there is no such row or its message is no
  // longer listed (nothing is marked then).
  int toggleMark(int row, AccountTable& accounts);
  // The message row r shows, wherever the list holds it now (the row's
  // number follows it); nullptr when it is no longer listed.
  MailItem* messageOf(int row, AccountTable& accounts);
  // A run starts: each marked row's mark goes onto the message it shows,
  // wherever that is now; a row whose message is gone loses its mark.
  void takeMarks(AccountTable& accounts);
  bool anyMarked() const;
  // Clears one row's mark (the double-click of the viewer).
  void clearMark(int row);


 private:
  void style(GridRow& r, AccountTable& accounts);
  MailItem* messageOf(GridRow& r, AccountTable& accounts);
  std::vector<GridRow> rows_;
  std::array<int, kColumns> widths_{};
  bool allowance_ = false;
};

// Layout arithmetic of the popup in pixels and twips.
namespace popup_layout {

struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};

// Control rectangles at design time, in twips.
inline constexpr Rect kMailer1Rect{0, 0, 300, 300};
inline constexpr Rect kMailer2Rect{360, 0, 300, 300};
inline constexpr Rect kRetrieveRect{840, 0, 300, 300};
inline constexpr Rect kDeleteRect{1320, 0, 300, 300};
inline constexpr Rect kLogRect{8280, 0, 300, 300};
inline constexpr Rect kListRect{0, 300, 8580, 3615};
inline constexpr Rect kCloseRect{120, 3960, 8340, 255};


// n * num / den rounded half away from zero, as Windows' MulDiv does; the
// window is sized with it, so whatever must match the window uses it too.
int mulDiv(int n, int num, int den);
// Pixels of a length in 96-DPI pixels at the window's DPI.
inline int scaled(int px96, int dpi) { return dpi > 0 ? mulDiv(px96, dpi, 96) : px96; }
// A control rectangle in twips at the window's DPI, sized exactly as the
// window itself is, so that controls and window grow together.
Rect atDpi(const Rect& twips, int dpi);

// The frame the resize arithmetic counts on, in 96-DPI pixels: 4 px borders
// and a 23 px caption. The arithmetic takes the outer size, and themed
// frames are thicker, so the window reports its client size plus this frame.
inline constexpr int kClassicFrameX = 8, kClassicFrameY = 31;

// True when mailTotal rows do not fit below the header.
bool needsScrollBar(int gridHeightPx, int rowHeightPx, int mailTotal);

struct Resized {
  Rect grid, ok;
  int logLeft = 0;
  bool operator==(const Resized&) const = default;
};
// The controls for a window of W x H twips (outer size) shown at dpi;
// nullopt when the window is too small and the last layout stays. The
// margins are 96-DPI pixels and grow with the DPI like the controls do.
std::optional<Resized> formResize(int W, int H, int twipsX, int twipsY, int dpi,
                                  const Rect& gridPx, const Rect& okPx);

// The same for the window's size, which is loaded with mulDiv at the DPI
// and so must be saved with its exact inverse: whole twips per pixel would
// shrink the stored size on every save at DPIs that do not divide 1440.
int windowTwips(int rememberedTwips, int pixels, int dpi);
// A column's width in pixels at the window's DPI, and back: at DPIs that
// divide 1440 this is the whole twips per pixel, and elsewhere (168, 192)
// the columns keep to the list, whose size is scaled the same way, instead
// of growing by the truncated fraction and needing a horizontal scroll bar.
// The way back rounds up, so that a width read back converts to the same
// pixels again.
int columnPx(int twips, int dpi);
int columnTwips(int rememberedTwips, int pixels, int dpi);

}  // namespace popup_layout

// What the popup logic asks of its window.
class PopupView {
 public:
  virtual ~PopupView() = default;
  // Off while the rows are rebuilt, so the list is not drawn half-filled.
  virtual void setGridRedraw(bool on) = 0;
  virtual void rowsChanged(int rowCount) = 0;
  virtual void setColumnWidthsPx(const std::array<int, PopupGrid::kColumns>& px) = 0;
  virtual std::array<int, PopupGrid::kColumns> columnWidthsPx() = 0;
  virtual int gridHeightPx() = 0;
  virtual int rowHeightPx() = 0;
  // The DPI the window's size and controls are scaled for.
  virtual int dpi() = 0;
  // The window's outer size in pixels (what is stored); its restored size
  // while it is minimised.
  virtual std::pair<int, int> windowSizePx() = 0;
  // The outer size the window would have with the classic thin frame the
  // layout arithmetic counts on (kClassicFrameX/Y at the window's DPI):
  // themed frames are thicker and would push the controls past the client
  // area.
  virtual std::pair<int, int> layoutSizePx() = 0;
  virtual void setGridTooltip(const Text& tip) = 0;
  // The retrieve and delete buttons.
  virtual void setActionsEnabled(bool on) = 0;
  virtual bool actionsEnabled() = 0;
  virtual void setListEnabled(bool on) = 0;
  virtual void placeControls(const popup_layout::Resized& layout) = 0;
  virtual popup_layout::Rect gridRectPx() = 0;
  virtual popup_layout::Rect okRectPx() = 0;
};

struct PopupServices {
  SettingsStore& store;
  Timers& timers;
  MainView& window;
  PopupView& view;
};

// The popup's logic on the main window.
class Popup {
 public:
  static constexpr std::uint32_t kCloseInterval = 1000;
  Popup(PopupServices services, MonitorState& state) : svc_(services), state_(state) {}

  void initialize();  // the auto-close timer's interval
  // Column widths from the settings; the subject column gives room to the
  // scroll bar when `mailTotal` rows will not fit.
  void initGrid(std::int64_t mailTotal);
  void fillGrid();
  void refreshMarks();
  void clearGrid();  // header row only
  // Shows the popup after a check with new mail; it may close by itself.
  void showNewMail();
  // A click on a row marks it (or takes the mark off).
  void clickRow(int row);
  // OK: the layout is kept and the popup hidden (the caller stops the lamp).
  void close();
  void onAutoCloseTick();
  void layoutControls(int twipsX, int twipsY);
  void saveLayout();

  PopupGrid grid;

 private:
  int shownPx(int col);  // the column's width as the list shows it
  PopupServices svc_;
  MonitorState& state_;
  std::int16_t closeCount_ = 0;
};

}  // namespace tarvi
