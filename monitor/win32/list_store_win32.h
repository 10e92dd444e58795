// The fast check's kept lists as files under %LOCALAPPDATA%\Tarvi\. A list
// is written to a file of its own and then put in place of the old one in
// one step, so that a crash or a full disk leaves the old list or the new
// one, never half of one.
#pragma once

#include "monitor/services/list_store.h"

namespace tarvi::win32 {

class FileListStore : public ListStore {
 public:
  std::optional<std::string> read(const Text& name) override;
  bool write(const Text& name, const std::string& bytes) override;
  void setAside(const Text& name) override;
};

}  // namespace tarvi::win32
