#include "monitor/win32/sound.h"

#include <windows.h>

#include <mmsystem.h>

namespace tarvi::win32 {

void WinmmSound::play(const Text& path, bool async) {
  const std::wstring w(path.begin(), path.end());
  // No SND_NODEFAULT: a file that cannot be played still gives the
  // system's default sound, so the user hears that mail came.
  sndPlaySoundW(w.c_str(), async ? SND_ASYNC : SND_SYNC);
}

void WinmmSound::beep() { MessageBeep(0xFFFFFFFF); }

}  // namespace tarvi::win32
