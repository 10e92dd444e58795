// A POP3 server that answers anything, for the session fuzz targets: every
// reply is the next piece of the fuzz input (pieces end at 0xFF), the first
// piece is the greeting, and the input's first byte chooses how replies are
// cut into chunks (0: byte by byte, else in two at that offset modulo 16).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fakes/fake_socket.h"

namespace tarvi::fakes {

class FuzzServer {
 public:
  // `data` must not be empty.
  FuzzServer(const std::uint8_t* data, std::size_t size) : replies_(1), cut_(data[0]) {
    for (std::size_t i = 1; i < size; ++i) {
      if (data[i] == 0xFF)
        replies_.emplace_back();
      else
        replies_.back() += static_cast<char>(data[i]);
    }
  }

  // Makes the fake socket answer with the pieces; the server must outlive
  // the socket's use.
  void serve(FakeSocket& sock) {
    sock.greeting = replies_[next_++];
    sock.respond = [this](const std::string&) {
      return next_ < replies_.size() ? replies_[next_++] : std::string();
    };
    sock.split = [cut = cut_](const std::string& s) {
      if (cut == 0) return bytewise(s);
      return cutAt(s, cut % 16);
    };
  }

 private:
  std::vector<std::string> replies_;
  std::size_t next_ = 0;
  unsigned cut_;
};

}  // namespace tarvi::fakes
