#pragma once

#include <deque>
#include <string>
#include <vector>

#include "monitor/desktop/services.h"

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
                       bool) override {
    boxes.push_back({toUtf8(text), toUtf8(title), buttons, icon});
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
  std::vector<Box> boxes;
  std::deque<MsgAnswer> answers;
};

}  // namespace tarvi::fakes
