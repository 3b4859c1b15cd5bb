#include "settings/in_memory_defaults_store.h"

namespace dunelo {

std::optional<DefaultsValue> InMemoryDefaultsStore::objectForKey(std::string_view key) const {
  const auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void InMemoryDefaultsStore::setObject(std::string_view key, DefaultsValue value) {
  values_.insert_or_assign(std::string(key), std::move(value));
  ++writeCount_;
  if (onWrite) onWrite(key);
}

void InMemoryDefaultsStore::removeObject(std::string_view key) {
  if (const auto it = values_.find(key); it != values_.end()) values_.erase(it);
  ++writeCount_;
  if (onWrite) onWrite(key);
}

}  // namespace dunelo
