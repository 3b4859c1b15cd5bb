// An XSETTINGS blob as a settings daemon publishes it, for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dunelo::x11::testing {

// Builds an XSETTINGS blob in little- or big-endian order.
class XSettingsBlob {
 public:
  explicit XSettingsBlob(bool bigEndian) : big_(bigEndian) {
    bytes_ = {static_cast<uint8_t>(bigEndian ? 1 : 0), 0, 0, 0};
    u32(42);  // serial
    u32(0);   // count, patched by add*
  }
  XSettingsBlob& addString(const std::string& name, const std::string& value) {
    header(1, name);
    u32(static_cast<uint32_t>(value.size()));
    text(value);
    return bump();
  }
  XSettingsBlob& addInt(const std::string& name, uint32_t value) {
    header(0, name);
    u32(value);
    return bump();
  }
  XSettingsBlob& addColor(const std::string& name) {
    header(2, name);
    u32(0);
    u32(0);
    return bump();
  }
  std::vector<uint8_t> bytes() const { return bytes_; }

 private:
  void u16(uint32_t v) {
    if (big_) {
      bytes_.push_back(static_cast<uint8_t>(v >> 8));
      bytes_.push_back(static_cast<uint8_t>(v));
    } else {
      bytes_.push_back(static_cast<uint8_t>(v));
      bytes_.push_back(static_cast<uint8_t>(v >> 8));
    }
  }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      const int shift = big_ ? 24 - 8 * i : 8 * i;
      bytes_.push_back(static_cast<uint8_t>(v >> shift));
    }
  }
  void text(const std::string& s) {
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    while (bytes_.size() % 4) bytes_.push_back(0);
  }
  void header(uint8_t type, const std::string& name) {
    bytes_.push_back(type);
    bytes_.push_back(0);
    u16(static_cast<uint32_t>(name.size()));
    text(name);
    u32(1);  // last-change serial
  }
  XSettingsBlob& bump() {
    ++count_;
    for (int i = 0; i < 4; ++i) {
      const int shift = big_ ? 24 - 8 * i : 8 * i;
      bytes_[8 + static_cast<size_t>(i)] = static_cast<uint8_t>(count_ >> shift);
    }
    return *this;
  }
  bool big_;
  uint32_t count_ = 0;
  std::vector<uint8_t> bytes_;
};

}  // namespace dunelo::x11::testing
