// The port the provider redirects the browser to at the end of a sign-in:
// 127.0.0.1 only, a port the system picks, served on a worker thread of its
// own so that the dialog waiting for it stays responsive.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <functional>
#include <string>

namespace tarvi::settings::win32 {

class LoopbackListener {
 public:
  struct Reply {
    std::string bytes;  // sent whole, then the connection is closed
    bool stop = false;  // the listener takes no further connection
  };
  // Called on the listener's thread with each complete request head (at
  // most oauth::kMaxRequestHead bytes); a connection that sends none in
  // time, or too much, is closed without a call.
  using Handler = std::function<Reply(const std::string& head)>;

  LoopbackListener() = default;
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  // Listens and starts the thread; false when either fails.
  bool start(Handler handler);
  // The port listened on, once started.
  int port() const { return port_; }
  // From the owner's thread: the thread ends within a fraction of a second
  // (a reply being sent is finished first) and the socket is closed.
  void stop();

 private:
  static DWORD WINAPI threadMain(void* self);
  void serve();

  Handler handler_;
  SOCKET socket_ = INVALID_SOCKET;
  HANDLE thread_ = nullptr;
  std::atomic<bool> stopping_{false};
  bool started_ = false;  // WSAStartup
  int port_ = 0;
};

}  // namespace tarvi::settings::win32
