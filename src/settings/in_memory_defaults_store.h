// A defaults domain that lives only in memory: for tests and for runs that must not touch the
// user's files. It counts writes so that tests can see write-through behaviour.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "settings/defaults_store.h"

namespace dunelo {

class InMemoryDefaultsStore final : public DefaultsStore {
 public:
  InMemoryDefaultsStore() = default;
  explicit InMemoryDefaultsStore(std::map<std::string, DefaultsValue, std::less<>> values)
      : values_(std::move(values)) {}

  std::optional<DefaultsValue> objectForKey(std::string_view key) const override;
  void setObject(std::string_view key, DefaultsValue value) override;
  void removeObject(std::string_view key) override;

  // Number of setObject/removeObject calls (through any typed setter) so far.
  size_t writeCount() const { return writeCount_; }
  // Called after every write with the key written.
  std::function<void(std::string_view key)> onWrite;
  const std::map<std::string, DefaultsValue, std::less<>>& values() const { return values_; }

 private:
  std::map<std::string, DefaultsValue, std::less<>> values_;
  size_t writeCount_ = 0;
};

}  // namespace dunelo
