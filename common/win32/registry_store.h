// The settings store on Windows: string values under
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\tarvimon\setting,
// where earlier versions of the programs kept them.
#pragma once

#include "common/store.h"

namespace tarvi::win32 {

class RegistryStore : public SettingsStore {
 public:
  std::optional<Text> get(const Text& key) const override;
  void put(const Text& key, const Text& value) override;
};

// Wide-string helpers for the Win32 calls.
std::wstring wide(const Text& text);
Text fromWide(const std::wstring& text);

}  // namespace tarvi::win32
