// The monitor's main window `mailform`: hidden for most of its life, shown
// as the popup. It forwards its events to the core's MailForm.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "monitor/desktop/mail_form.h"
#include "monitor/win32/win32_services.h"

namespace tarvi::win32 {

class MainWindow : public MainView {
 public:
  explicit MainWindow(HINSTANCE instance);
  ~MainWindow() override;
  HWND create();
  HWND hwnd() const { return hwnd_; }
  void attach(MailForm* form) { form_ = form; }

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

  // Messages the other parts of the monitor want to see (hotkeys, sockets).
  // Returns true when the message was handled.
  std::function<bool(UINT, WPARAM, LPARAM, LRESULT&)> extraHandler;

 private:
  static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM);
  LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  MailForm* form_ = nullptr;
  bool unloading_ = false;
};

}  // namespace tarvi::win32
