// The monitor's main window: hidden for most of its life, shown as the
// popup with the mail list. It forwards every event to the Monitor and
// shows what the core tells it; it decides nothing itself.
#pragma once

#include <windows.h>

#include "monitor/app/monitor.h"
#include "monitor/popup/popup_model.h"
#include "monitor/win32/popup_list.h"
#include "monitor/win32/tray_icon.h"
#include "monitor/win32/win32_services.h"

namespace tarvi::win32 {

class MainWindow : public MainView, public PopupView {
 public:
  // Control identifiers, also used by the end-to-end tests.
  enum : int {
    kMailerButton1 = 101,
    kMailerButton2 = 102,
    kRetrieveButton = 103,
    kDeleteButton = 104,
    kLogButton = 105,
    kCloseButton = 106,
    kMailList = PopupList::kId,
  };

  explicit MainWindow(HINSTANCE instance);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // The monitor the window's events go to; before create().
  void attach(Monitor* monitor);
  HWND create();
  HWND hwnd() const { return hwnd_; }
  // The notification-area icon, whose messages come to this window.
  void setTray(Win32TrayIcon* tray) { tray_ = tray; }
  void setTimerDriver(Win32TimerDriver* timers) { timers_ = timers; }

  // MainView
  void hide() override;
  void show() override;
  void setCaption(const Text& caption) override;
  Text caption() override;
  void removeCloseMenu() override;
  void setMailerEnabled(int mailer, bool enabled) override;
  void setLogVisible(bool visible) override;
  void applyLayout(const std::array<std::int16_t, 6>& gridWidths, std::int16_t width,
                   std::int16_t height) override;
  void setBusy(bool busy) override;
  void unload() override;

  // PopupView
  void setGridRedraw(bool on) override;
  void rowsChanged(int rowCount) override;
  void setColumnWidthsPx(const std::array<int, PopupGrid::kColumns>& px) override;
  std::array<int, PopupGrid::kColumns> columnWidthsPx() override;
  int gridHeightPx() override;
  int rowHeightPx() override;
  int dpi() override;
  std::pair<int, int> windowSizePx() override;
  std::pair<int, int> layoutSizePx() override;
  void setGridTooltip(const Text& tip) override;
  void setActionsEnabled(bool on) override;
  bool actionsEnabled() override;
  void setListEnabled(bool on) override;
  void placeControls(const popup_layout::Resized& layout) override;
  popup_layout::Rect gridRectPx() override;
  popup_layout::Rect okRectPx() override;

 private:
  static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM);
  LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
  void buttonClicked(int id);
  void createControls();
  HWND button(int id, const wchar_t* caption, bool ownerDraw, const popup_layout::Rect& twips);
  void addTip(HWND control, const wchar_t* text);
  popup_layout::Rect rectOf(HWND control) const;

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  Monitor* monitor_ = nullptr;
  Win32TrayIcon* tray_ = nullptr;
  Win32TimerDriver* timers_ = nullptr;
  UINT dpi_ = 96;
  PopupList list_;
  HWND mailerButton_[2] = {nullptr, nullptr};
  HWND retrieveButton_ = nullptr, deleteButton_ = nullptr, logButton_ = nullptr;
  HWND closeButton_ = nullptr;
  HWND tip_ = nullptr;
  HFONT uiFont_ = nullptr;
};

}  // namespace tarvi::win32
