#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "monitor/services/services.h"

namespace tarvi::fakes {

// Records every message box and answers from a queue (Ok when empty).
class FakeDialogs : public Dialogs {
 public:
  struct Box {
    std::string text;  // UTF-8
    std::string title;
    MsgButtons buttons;
    MsgIcon icon;
  };
  MsgAnswer messageBox(const Text& text, const Text& title, MsgButtons buttons, MsgIcon icon,
                       bool defaultSecond) override {
    boxes.push_back({toUtf8(text), toUtf8(title), buttons, icon});
    secondDefault.push_back(defaultSecond);
    // What happens while the box is open (it pumps messages like any modal loop).
    if (whileOpen) whileOpen(boxes.back().text);
    if (answers.empty()) return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (auto& b : boxes) out.push_back(b.text);
    return out;
  }
  std::function<void(const std::string&)> whileOpen;
  std::vector<Box> boxes;
  std::deque<MsgAnswer> answers;
  // Per box: the second button was the default.
  std::vector<bool> secondDefault;
};

}  // namespace tarvi::fakes
