#include "monitor/win32/list_store_win32.h"

#include <windows.h>

#include <algorithm>

#include "common/win32/kept_list_file.h"
#include "common/win32/registry_store.h"

namespace tarvi::win32 {
namespace {

std::wstring pathOf(const Text& name) {
  const Text folder = keptListFolder();
  return folder.empty() ? std::wstring() : wide(folder + u"\\" + name);
}

}  // namespace

std::optional<std::string> FileListStore::read(const Text& name) {
  const std::wstring path = pathOf(name);
  if (path.empty()) return std::nullopt;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size) && size.QuadPart <= static_cast<LONGLONG>(kMaxBytes)) {
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < bytes.size()) {
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
      if (!ReadFile(file, bytes.data() + done, want, &got, nullptr) || got == 0) break;
      done += got;
    }
    bytes.resize(done);  // a file that shrank while read is no list
  }
  CloseHandle(file);
  return bytes;
}

bool FileListStore::write(const Text& name, const std::string& bytes) {
  const std::wstring path = pathOf(name);
  if (path.empty() || bytes.size() > kMaxBytes) return false;
  CreateDirectoryW(wide(keptListFolder()).c_str(), nullptr);  // exists already, mostly
  const std::wstring fresh = path + L".new";
  HANDLE file = CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size() && FlushFileBuffers(file);
  CloseHandle(file);
  if (ok && MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  DeleteFileW(fresh.c_str());
  return false;
}

void FileListStore::setAside(const Text& name) {
  const std::wstring path = pathOf(name);
  if (path.empty()) return;
  // One set-aside copy per list is kept; an older one makes room.
  if (!MoveFileExW(path.c_str(), (path + L".bad").c_str(), MOVEFILE_REPLACE_EXISTING))
    DeleteFileW(path.c_str());
}

}  // namespace tarvi::win32
