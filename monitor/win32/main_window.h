// The monitor's main window `mailform`: hidden for most of its life, shown
// as the popup with the mail list. It forwards its events to the core's
// MailForm and Popup and shows what they tell it.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "monitor/desktop/mail_form.h"
#include "monitor/mail/popup_model.h"
#include "monitor/win32/popup_list.h"
#include "monitor/win32/win32_services.h"

namespace tarvi::win32 {

class MainWindow : public MainView, public PopupView {
 public:
  // Control identifiers, also used by the end-to-end tests.
  enum : int {
    kMailBt1 = 101,
    kMailBt2 = 102,
    kRetrBt = 103,
    kDelBt = 104,
    kLogBt = 105,
    kOkBt = 106,
    kGrid = PopupList::kId,
  };

  explicit MainWindow(HINSTANCE instance);
  ~MainWindow() override;
  HWND create();
  HWND hwnd() const { return hwnd_; }
  void attach(MailForm* form) { form_ = form; }
  void attachPopup(Popup* popup);

  // MainView
  void hide() override;
  void show() override;
  void setCaption(const Text& caption) override;
  void removeCloseMenu() override;
  void setMailerEnabled(int mailer, bool enabled) override;
  void setLogVisible(bool visible) override;
  void applyLayout(const std::array<std::int16_t, 6>& gridWidths, std::int16_t width,
                   std::int16_t height) override;
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
  void placeControls(const popup_layout::Resized& layout) override;
  popup_layout::Rect gridRectPx() override;
  popup_layout::Rect okRectPx() override;

  void setGridEnabled(bool on);

  // Messages the other parts of the monitor want to see (hotkeys, sockets).
  // Returns true when the message was handled.
  std::function<bool(UINT, WPARAM, LPARAM, LRESULT&)> extraHandler;

  // The popup's buttons whose work belongs to other parts of the monitor.
  std::function<void(int mailer)> onMailBt;
  std::function<void()> onRetrBt;
  std::function<void()> onDelBt;
  std::function<void()> onLogBt;
  std::function<void(int row)> onGridDblClick;

 private:
  static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM);
  LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
  void createControls();
  HWND button(int id, const wchar_t* caption, bool ownerDraw, const popup_layout::Rect& twips);
  void addTip(HWND control, const wchar_t* text);
  popup_layout::Rect rectOf(HWND control) const;

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  MailForm* form_ = nullptr;
  Popup* popup_ = nullptr;
  bool unloading_ = false;
  bool endAgreed_ = false;  // the end of the session was agreed to
  UINT dpi_ = 96;
  PopupList list_;
  HWND mailBt_[2] = {nullptr, nullptr};
  HWND retrBt_ = nullptr, delBt_ = nullptr, logBt_ = nullptr, okBt_ = nullptr;
  HWND tip_ = nullptr;
  HFONT uiFont_ = nullptr;
};

}  // namespace tarvi::win32
