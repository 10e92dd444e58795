// The Remote Access Service, loaded when it is there: without rasapi32.dll
// there are no connections and no phone-book entries, and dialling fails.
#pragma once

#include <windows.h>

#include "monitor/services/dialup_service.h"

namespace tarvi::win32 {

class Win32Ras : public DialupService {
 public:
  Win32Ras();
  ~Win32Ras() override;
  Win32Ras(const Win32Ras&) = delete;
  Win32Ras& operator=(const Win32Ras&) = delete;

  std::vector<RasHandle> connections() override;
  std::vector<Text> entries() override;
  std::uint32_t dial(const Text& entry, RasHandle& handle) override;
  std::uint32_t connectStatus(RasHandle handle, std::uint32_t& state) override;
  void hangUp(RasHandle handle) override;

 private:
  HMODULE lib_ = nullptr;
  FARPROC enumConnections_ = nullptr;
  FARPROC enumEntries_ = nullptr;
  FARPROC getEntryDialParams_ = nullptr;
  FARPROC dial_ = nullptr;
  FARPROC connectStatus_ = nullptr;
  FARPROC hangUp_ = nullptr;
};

}  // namespace tarvi::win32
