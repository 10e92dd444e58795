#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "monitor/services/list_store.h"

namespace tarvi::fakes {

// Kept lists in memory, by file name; what was set aside is kept apart.
class FakeListStore : public ListStore {
 public:
  std::optional<std::string> read(const Text& name) override {
    ++reads;
    auto it = files.find(name);
    if (it == files.end()) return std::nullopt;
    return it->second;
  }
  bool write(const Text& name, const std::string& bytes) override {
    ++writes;
    if (failWrites) return false;
    files[name] = bytes;
    return true;
  }
  void setAside(const Text& name) override {
    auto it = files.find(name);
    if (it == files.end()) return;
    setAsideFiles.push_back(it->second);
    files.erase(it);
  }

  std::map<Text, std::string> files;
  std::vector<std::string> setAsideFiles;
  bool failWrites = false;
  int reads = 0, writes = 0;
};

}  // namespace tarvi::fakes
