#include "common/win32/dpapi.h"

#include <windows.h>

#include <wincrypt.h>

#include <limits>

namespace tarvi::win32 {
namespace {

// Ours alone: another program of the same user that calls DPAPI without
// it does not unprotect our blobs by chance (one that knows it still can:
// DPAPI keeps secrets from other users, not from the user's own programs).
constexpr char kEntropy[] = "tarvi mail checker secrets v1";

DATA_BLOB blobOf(std::string_view bytes) {
  return {static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

DATA_BLOB entropy() { return blobOf(std::string_view(kEntropy, sizeof kEntropy - 1)); }

// Copies the system's output and frees it, wiping it first when it held
// the plain text.
std::string take(DATA_BLOB& out, bool wipe) {
  std::string bytes(reinterpret_cast<const char*>(out.pbData), out.cbData);
  if (wipe) SecureZeroMemory(out.pbData, out.cbData);
  LocalFree(out.pbData);
  return bytes;
}

bool fits(std::string_view bytes) { return bytes.size() <= std::numeric_limits<DWORD>::max(); }

}  // namespace

std::optional<std::string> DpapiSecretKeeper::protect(std::string_view plain) {
  if (!fits(plain)) return std::nullopt;
  DATA_BLOB in = blobOf(plain), extra = entropy(), out{};
  // Never a prompt: the monitor runs unattended, and the settings program
  // has its own error for a refusal.
  if (!CryptProtectData(&in, L"tarvi", &extra, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
    return std::nullopt;
  return take(out, false);
}

std::optional<std::string> DpapiSecretKeeper::unprotect(std::string_view blob) {
  if (!fits(blob)) return std::nullopt;
  DATA_BLOB in = blobOf(blob), extra = entropy(), out{};
  if (!CryptUnprotectData(&in, nullptr, &extra, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
    return std::nullopt;
  return take(out, true);
}

}  // namespace tarvi::win32
