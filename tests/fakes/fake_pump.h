#pragma once

#include <deque>
#include <functional>

#include "monitor/services/services.h"

namespace tarvi::fakes {

// A message queue: posted events run when the core lets pending messages
// be processed, nested inside whatever handler asked, as on Windows.
class FakePump : public Pump {
 public:
  void post(std::function<void()> event) { queue.push_back(std::move(event)); }
  void doEvents() override {
    ++pumps;
    ++depth;
    if (depth > maxDepth) maxDepth = depth;
    if (onDoEvents) onDoEvents();
    while (!queue.empty()) {
      auto e = std::move(queue.front());
      queue.pop_front();
      e();
    }
    --depth;
  }
  void idle() override { ++idles; if (onIdle) onIdle(); }
  bool quitting() const override { return quit; }
  // The main message loop: runs events until none is left.
  void runAll() { doEvents(); }

  std::deque<std::function<void()>> queue;
  std::function<void()> onDoEvents;
  std::function<void()> onIdle;
  int pumps = 0;
  int depth = 0;     // nesting of doEvents right now
  int maxDepth = 0;
  int idles = 0;
  bool quit = false;  // the monitor has been unloaded
};

}  // namespace tarvi::fakes
