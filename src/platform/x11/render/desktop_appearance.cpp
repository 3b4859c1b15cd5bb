#include "platform/x11/render/desktop_appearance.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

#include "platform/x11/x11_connection.h"

namespace dunelo::x11 {

namespace {

// A bounds-checked reader of the blob in its declared byte order.
class Reader {
 public:
  Reader(std::span<const uint8_t> data, bool bigEndian) : data_(data), big_(bigEndian) {}
  bool ok() const { return ok_; }
  void skip(size_t n) {
    if (!need(n)) return;
    pos_ += n;
  }
  uint32_t u8() { return need(1) ? data_[pos_++] : 0; }
  uint32_t u16() {
    if (!need(2)) return 0;
    uint32_t v = big_ ? (data_[pos_] << 8 | data_[pos_ + 1]) : (data_[pos_ + 1] << 8 | data_[pos_]);
    pos_ += 2;
    return v;
  }
  uint32_t u32() {
    if (!need(4)) return 0;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const uint32_t b = data_[pos_ + static_cast<size_t>(big_ ? i : 3 - i)];
      v = v << 8 | b;
    }
    pos_ += 4;
    return v;
  }
  std::string_view bytes(size_t n) {
    if (!need(n)) return {};
    std::string_view s(reinterpret_cast<const char*>(data_.data() + pos_), n);
    pos_ += n;
    return s;
  }

 private:
  bool need(size_t n) {
    if (!ok_ || data_.size() - pos_ < n) ok_ = false;
    return ok_;
  }
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool big_;
  bool ok_ = true;
};

size_t padded(size_t n) {
  return (n + 3) & ~size_t{3};
}

bool containsDark(std::string_view s) {
  std::string lower(s);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  return lower.find("dark") != std::string::npos;
}

}  // namespace

Appearance appearanceFromXSettings(std::span<const uint8_t> blob) {
  if (blob.empty()) return Appearance::unknown;
  Reader r(blob, blob[0] != 0);
  r.skip(4);
  r.u32();  // serial
  const uint32_t count = r.u32();
  Appearance result = Appearance::unknown;
  for (uint32_t i = 0; i < count && r.ok(); ++i) {
    const uint32_t type = r.u8();
    r.skip(1);
    const uint32_t nameLength = r.u16();
    const std::string_view name = r.bytes(nameLength);
    r.skip(padded(nameLength) - nameLength);
    r.u32();  // last-change serial
    switch (type) {
      case 0: {  // integer
        const uint32_t value = r.u32();
        if (r.ok() && name == "Gtk/ApplicationPreferDarkTheme" && value == 1) {
          result = Appearance::dark;
        }
        break;
      }
      case 1: {  // string
        const uint32_t length = r.u32();
        const std::string_view value = r.bytes(length);
        r.skip(padded(length) - length);
        if (r.ok() && name == "Net/ThemeName" && result != Appearance::dark) {
          result = containsDark(value) ? Appearance::dark : Appearance::light;
        }
        break;
      }
      case 2:  // colour
        r.skip(8);
        break;
      default:
        return Appearance::unknown;
    }
  }
  return r.ok() ? result : Appearance::unknown;
}

Appearance readDesktopAppearance(X11Connection& connection) {
  xcb_connection_t* c = connection.xcb();
  const xcb_atom_t selection =
      connection.atom("_XSETTINGS_S" + std::to_string(connection.screenNumber()));
  const xcb_atom_t property = connection.atom("_XSETTINGS_SETTINGS");
  if (selection == XCB_NONE || property == XCB_NONE) return Appearance::unknown;
  auto owner = replyOf(c, xcb_get_selection_owner_reply, xcb_get_selection_owner(c, selection));
  if (!owner || owner->owner == XCB_NONE) return Appearance::unknown;
  auto prop = replyOf(c, xcb_get_property_reply,
                      xcb_get_property(c, 0, owner->owner, property, property, 0, 1 << 16));
  if (!prop || prop->format != 8) return Appearance::unknown;
  const auto* data = static_cast<const uint8_t*>(xcb_get_property_value(prop.get()));
  const auto length = static_cast<size_t>(xcb_get_property_value_length(prop.get()));
  return appearanceFromXSettings({data, length});
}

}  // namespace dunelo::x11
