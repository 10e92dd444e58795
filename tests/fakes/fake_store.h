#pragma once

#include <map>
#include <vector>

#include "common/store.h"

namespace tarvi::fakes {

// In-memory settings store that also records the order of writes.
class FakeStore : public SettingsStore {
 public:
  std::optional<Text> get(const Text& key) const override {
    auto it = values.find(key);
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
  void put(const Text& key, const Text& value) override {
    values[key] = value;
    writes.push_back(key);
  }
  void set(const std::string& key, const std::string& value) {
    values[fromUtf8(key)] = fromUtf8(value);
  }
  std::string at(const std::string& key) const {
    auto v = get(fromUtf8(key));
    return v ? toUtf8(*v) : std::string("<absent>");
  }

  std::map<Text, Text> values;
  std::vector<Text> writes;
};

}  // namespace tarvi::fakes
