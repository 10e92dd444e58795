// Where the fast check keeps what it listed of each mailbox between runs of
// the monitor: one blob per file name, replaced whole. The Win32 version
// keeps files under %LOCALAPPDATA%\Tarvi\; the tests keep them in memory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "common/text.h"

namespace tarvi {

class ListStore {
 public:
  // No kept list is larger: 32767 messages of a few hundred bytes each.
  static constexpr std::size_t kMaxBytes = 16u << 20;

  virtual ~ListStore() = default;
  // What is kept under the name; nullopt when nothing is. A file larger
  // than kMaxBytes is read as an empty text (which is no list).
  virtual std::optional<std::string> read(const Text& name) = 0;
  // Replaces what is kept under the name, all or nothing: a failure half
  // way leaves the earlier contents. False when it could not be written.
  virtual bool write(const Text& name, const std::string& bytes) = 0;
  // What is kept under the name is damaged or belongs to another program:
  // it is moved out of the way (not deleted: a person may want to look).
  virtual void setAside(const Text& name) = 0;
};

}  // namespace tarvi
