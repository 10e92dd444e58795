// The message viewer: a plain top-level window with one multi-line text
// box filling it. It shows a retrieved message or the session log; closing
// it destroys it, and the next use creates it again.
#pragma once

#include <windows.h>

#include "monitor/popup/viewer_model.h"

namespace tarvi::win32 {

class ViewerWindow : public ViewerView {
 public:
  // The text box's control id, also used by the end-to-end tests.
  static constexpr int kTextId = 201;

  explicit ViewerWindow(HINSTANCE instance) : instance_(instance) {}
  ~ViewerWindow() override;
  ViewerWindow(const ViewerWindow&) = delete;
  ViewerWindow& operator=(const ViewerWindow&) = delete;

  // The main window, once it exists: the viewer is created owned by it.
  void setOwner(HWND owner) { owner_ = owner; }
  void showText(const Text& text) override;
  HWND hwnd() const { return hwnd_; }

 private:
  static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM);
  LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
  bool create();
  void fit();

  HINSTANCE instance_;
  HWND owner_ = nullptr;
  HWND hwnd_ = nullptr;
  HWND text_ = nullptr;
  HFONT font_ = nullptr;
};

}  // namespace tarvi::win32
