#include "common/win32/system_random.h"

#include <windows.h>
#include <bcrypt.h>

#include <climits>

namespace tarvi::win32 {

bool systemRandom(void* out, std::size_t n) {
  auto* at = static_cast<unsigned char*>(out);
  while (n > 0) {
    const ULONG chunk = n > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(n);
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, at, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
    at += chunk;
    n -= chunk;
  }
  return true;
}

}  // namespace tarvi::win32
