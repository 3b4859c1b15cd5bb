// The persistent key-value domain that holds every user setting and the permission caches.
//
// Values keep their type: a boolean, an integer, a double, a string, an array of values or a block
// of bytes. Typed reads follow the user-defaults conventions the settings code is written against:
// an absent key reads as false, 0.0 or 0; numbers convert between bool, integer and double; any
// other type reads as that same absent default. The object, string, array and data reads yield
// nothing when the key is absent or holds another type. Writes take effect at once; how and when
// they reach persistent storage is up to the implementation.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace dunelo {

struct DefaultsValue;
using DefaultsArray = std::vector<DefaultsValue>;
using DefaultsData = std::vector<uint8_t>;

struct DefaultsValue {
  using Storage = std::variant<bool, int64_t, double, std::string, DefaultsArray, DefaultsData>;
  Storage value;

  DefaultsValue() : value(false) {}
  DefaultsValue(bool b) : value(b) {}  // NOLINT(google-explicit-constructor)
  // Every integer type up to 64 bits signed (unsigned 64-bit values could not round-trip).
  template <std::integral I>
  requires(!std::same_as<I, bool> && (std::signed_integral<I> || sizeof(I) < 8)) DefaultsValue(I i)
      : value(static_cast<int64_t>(i)) {}                       // NOLINT
  DefaultsValue(double d) : value(d) {}                         // NOLINT
  DefaultsValue(std::string s) : value(std::move(s)) {}         // NOLINT
  DefaultsValue(std::string_view s) : value(std::string(s)) {}  // NOLINT
  DefaultsValue(const char* s) : value(std::string(s)) {}       // NOLINT
  DefaultsValue(DefaultsArray a) : value(std::move(a)) {}       // NOLINT
  DefaultsValue(DefaultsData d) : value(std::move(d)) {}        // NOLINT

  template <class T>
  bool is() const {
    return std::holds_alternative<T>(value);
  }
  template <class T>
  const T* getIf() const {
    return std::get_if<T>(&value);
  }
  // The value as a double when it is a number (integer or double; a boolean is not a number).
  std::optional<double> asNumber() const;

  friend bool operator==(const DefaultsValue& a, const DefaultsValue& b) {
    return a.value == b.value;
  }
};

class DefaultsStore {
 public:
  virtual ~DefaultsStore() = default;

  // The stored value, or none when the key is absent.
  virtual std::optional<DefaultsValue> objectForKey(std::string_view key) const = 0;
  virtual void setObject(std::string_view key, DefaultsValue value) = 0;
  // Removing an absent key is not an error.
  virtual void removeObject(std::string_view key) = 0;
  // Returns once every change made so far has reached persistent storage (or failed to), for the
  // few values that must be there before the program acts on them. A store that writes at once,
  // or never, has nothing to wait for.
  virtual void flush() {}

  // Absent or non-numeric: false. Numbers: non-zero.
  bool boolForKey(std::string_view key) const;
  // Absent or non-numeric: 0.0. Booleans read as 0.0 or 1.0.
  double doubleForKey(std::string_view key) const;
  // Absent or non-numeric: 0. Doubles are truncated towards zero and saturate at the integer
  // range; NaN reads as 0.
  int64_t integerForKey(std::string_view key) const;
  std::optional<std::string> stringForKey(std::string_view key) const;
  std::optional<DefaultsArray> arrayForKey(std::string_view key) const;
  std::optional<DefaultsData> dataForKey(std::string_view key) const;

  void setBool(std::string_view key, bool value) { setObject(key, DefaultsValue(value)); }
  void setDouble(std::string_view key, double value) { setObject(key, DefaultsValue(value)); }
  void setInteger(std::string_view key, int64_t value) { setObject(key, DefaultsValue(value)); }
};

}  // namespace dunelo
