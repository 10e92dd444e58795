// A measuring aid for the benches: with TARVI_TICK_LOG naming a file, a 10 ms
// timer runs on the window thread, and every gap between two of its ticks
// longer than 15 ms is appended to that file as "unix_microseconds gap_ms".
// A gap is the time the window thread spent on something other than its
// messages: the popup and the hotkeys waited that long. Without the variable
// nothing is started.
#pragma once

namespace tarvi::win32 {

void startTickProbeIfAsked();

}  // namespace tarvi::win32
