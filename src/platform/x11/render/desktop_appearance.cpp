#include "platform/x11/render/desktop_appearance.h"

#include <xcb/xfixes.h>

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

DesktopAppearanceWatcher::DesktopAppearanceWatcher(X11Connection& connection) : conn_(connection) {
  selection_ = conn_.atom("_XSETTINGS_S" + std::to_string(conn_.screenNumber()));
  property_ = conn_.atom("_XSETTINGS_SETTINGS");
  const auto& xfixes = conn_.extensions().xfixes;
  if (selection_ == XCB_NONE || property_ == XCB_NONE) return;
  handlers_.push_back(conn_.on<XCB_PROPERTY_NOTIFY>([this](const auto& notify) {
    if (notify.window == owner_ && owner_ != XCB_NONE && notify.atom == property_) readSettings();
  }));
  if (xfixes.present) {
    // Watched before asking, so that a daemon starting in between is not missed.
    xcb_xfixes_select_selection_input(conn_.xcb(), conn_.root(), selection_,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    handlers_.push_back(conn_.onExtension<xcb_xfixes_selection_notify_event_t>(
        xfixes, XCB_XFIXES_SELECTION_NOTIFY, [this](const auto& notify) {
          if (notify.selection == selection_) followOwner();
        }));
  }
  followOwner();
}

DesktopAppearanceWatcher::~DesktopAppearanceWatcher() = default;

void DesktopAppearanceWatcher::followOwner() {
  xcb_connection_t* c = conn_.xcb();
  auto reply = replyOf(c, xcb_get_selection_owner_reply, xcb_get_selection_owner(c, selection_));
  const xcb_window_t owner = reply ? reply->owner : XCB_NONE;
  if (owner != owner_ && owner != XCB_NONE) {
    // Listened to before it is read; the window may be gone already, which the next selection
    // event reports.
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    conn_.ignoreErrors(xcb_change_window_attributes_checked(c, owner, XCB_CW_EVENT_MASK, &mask));
  }
  owner_ = owner;
  readSettings();
}

void DesktopAppearanceWatcher::readSettings() {
  Appearance now = Appearance::unknown;
  if (owner_ != XCB_NONE) {
    xcb_connection_t* c = conn_.xcb();
    auto prop = replyOf(c, xcb_get_property_reply,
                        xcb_get_property(c, 0, owner_, property_, property_, 0, 1 << 16));
    if (prop && prop->format == 8) {
      const auto* data = static_cast<const uint8_t*>(xcb_get_property_value(prop.get()));
      const auto length = static_cast<size_t>(xcb_get_property_value_length(prop.get()));
      now = appearanceFromXSettings({data, length});
    }
  }
  if (now == appearance_) return;
  appearance_ = now;
  changed_.send(now);
}

}  // namespace dunelo::x11
