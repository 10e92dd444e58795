// The raw keyboard calls behind the Scroll Lock lamp.
#pragma once

#include "monitor/services/services.h"

namespace tarvi::win32 {

class Win32Keyboard : public Keyboard {
 public:
  int platform() override;
  std::int16_t keyState(int vk) override;
  bool getState(StateTable& table) override;
  void setState(const StateTable& table) override;
  void keyEvent(std::uint8_t vk, std::uint8_t scan, std::uint32_t flags) override;
};

}  // namespace tarvi::win32
