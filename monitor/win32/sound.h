// Wave files through winmm, and the system beep.
#pragma once

#include "monitor/services/services.h"

namespace tarvi::win32 {

class WinmmSound : public SoundPlayer {
 public:
  void play(const Text& path, bool async) override;
  void beep() override;
};

}  // namespace tarvi::win32
