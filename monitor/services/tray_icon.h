// The monitor's icon in the notification area of the taskbar. The core
// decides what it shows; the platform only draws it and reports clicks.
#pragma once

#include "common/text.h"

namespace tarvi {

class TrayIcon {
 public:
  virtual ~TrayIcon() = default;
  // Adds the icon. `newMail` picks the second picture (unread new mail).
  virtual void show(const Text& tooltip, bool newMail) = 0;
  // Changes the tooltip and the picture of the icon shown.
  virtual void update(const Text& tooltip, bool newMail) = 0;
  virtual void remove() = 0;
  // A notification balloon from the icon shown. `heldInQuietTime` lets
  // Windows keep it back during the user's quiet time.
  virtual void balloon(const Text& title, const Text& text, bool heldInQuietTime) = 0;
};

}  // namespace tarvi
