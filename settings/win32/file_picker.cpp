#include "settings/win32/file_picker.h"

#include <commdlg.h>

#include "common/win32/registry_store.h"
#include "common/win32/system_library.h"

namespace tarvi::settings::win32 {

using tarvi::win32::fromWide;
using tarvi::win32::wide;

Text pickFile(HWND owner, const Text& description, const Text& pattern, const Text& folder,
              const Text& title) {
  // The preview dialog lives in msvfw32; without it the plain dialog serves.
  using Fn = BOOL(WINAPI*)(OPENFILENAMEW*);
  static const Fn preview = [] {
    HMODULE lib = tarvi::win32::loadSystemLibrary(L"msvfw32.dll");
    return lib ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(lib, "GetOpenFileNamePreviewW")))
               : nullptr;
  }();

  std::wstring filter = wide(description);
  filter += L'\0';
  filter += wide(pattern);
  filter += L'\0';
  filter += L'\0';
  const std::wstring initial = wide(folder);
  const std::wstring caption = wide(title);
  wchar_t file[256] = {};
  wchar_t fileTitle[256] = {};

  OPENFILENAMEW ofn{};
  ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  ofn.hwndOwner = owner;
  ofn.hInstance = GetModuleHandleW(nullptr);
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file;
  ofn.nMaxFile = 256;
  ofn.lpstrFileTitle = fileTitle;
  ofn.nMaxFileTitle = 256;
  ofn.lpstrInitialDir = initial.c_str();
  ofn.lpstrTitle = caption.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;  // 0x81804

  const BOOL ok = preview ? preview(&ofn) : GetOpenFileNameW(&ofn);
  if (!ok) return {};
  file[255] = L'\0';
  return fromWide(file);
}

}  // namespace tarvi::settings::win32
