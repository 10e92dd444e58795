// The per-user settings store: named text values in one section. On Windows
// it is a registry key; the tests use an in-memory map.
#pragma once

#include <optional>

#include "common/text.h"

namespace tarvi {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The stored text, or nullopt when the key is absent or unreadable.
  virtual std::optional<Text> get(const Text& key) const = 0;
  // Writes are best effort: the store reports no errors to the programs.
  virtual void put(const Text& key, const Text& value) = 0;

  Text read(const Text& key, const Text& fallback) const {
    auto v = get(key);
    return v ? *v : fallback;
  }
};

}  // namespace tarvi
