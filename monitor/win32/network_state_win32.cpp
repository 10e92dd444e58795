#include "monitor/win32/network_state_win32.h"

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <vector>

namespace tarvi::win32 {

Win32NetworkState::~Win32NetworkState() {
  // Waits for a callback under way, so none posts to a window that is gone.
  if (notification_) CancelMibChangeNotify2(notification_);
}

void CALLBACK Win32NetworkState::changed(void* context, void*, int) {
  auto* self = static_cast<Win32NetworkState*>(context);
  // A system thread: the window thread asks online() itself.
  PostMessageW(self->window_, kChangedMessage, 0, 0);
}

bool Win32NetworkState::watch(HWND window) {
  window_ = window;
  return NotifyIpInterfaceChange(AF_UNSPEC, reinterpret_cast<PIPINTERFACE_CHANGE_CALLBACK>(&changed), this, FALSE,
                                 &notification_) == NO_ERROR;
}

bool Win32NetworkState::online() {
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG r = ERROR_BUFFER_OVERFLOW;
  for (int tries = 0; tries < 3 && r == ERROR_BUFFER_OVERFLOW; ++tries) {
    buffer.resize(size);
    r = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                             reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  // A system that cannot say is taken at its word that checks may go out:
  // skipping them on a guess would be the worse mistake.
  if (r != NO_ERROR) return true;
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
    if (a->OperStatus != IfOperStatusUp || a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
    if (a->FirstUnicastAddress) return true;
  }
  return false;
}

}  // namespace tarvi::win32
