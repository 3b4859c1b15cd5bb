#include "platform/x11/render/backdrop.h"

#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/shape.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/x11/x11_connection.h"

namespace dunelo::x11 {

namespace {

Box outerRect(const TopLevel& t) {
  return Box::ofSize(t.x, t.y, static_cast<int>(t.outerWidth()), static_cast<int>(t.outerHeight()));
}

}  // namespace

Backdrop::Backdrop(X11Connection& connection, const PictFormats& formats)
    : conn_(connection),
      c_(connection.xcb()),
      formats_(formats),
      root_(connection.root()),
      rootPixmapAtom_(connection.atom("_XROOTPMAP_ID")),
      esetrootAtom_(connection.atom("ESETROOT_PMAP_ID")),
      stack_(connection, XCB_EVENT_MASK_PROPERTY_CHANGE) {
  // Pipelined: every window's attributes first, then the replies.
  std::vector<xcb_get_window_attributes_cookie_t> cookies;
  for (const TopLevel& t : stack_.windows()) cookies.push_back(xcb_get_window_attributes(c_, t.id));
  for (size_t i = 0; i < cookies.size(); ++i) {
    auto attributes = replyOf(c_, xcb_get_window_attributes_reply, cookies[i]);
    if (attributes) track(stack_.windows()[i], attributes.get());  // else vanished meanwhile
  }
  const auto& ext = conn_.extensions();
  eventHandlers_.push_back(stack_.observe([this](const StackChange& c) { onStackChange(c); }));
  eventHandlers_.push_back(conn_.on<XCB_PROPERTY_NOTIFY>([this](const auto& e) {
    if (e.window != root_ || (e.atom != rootPixmapAtom_ && e.atom != esetrootAtom_)) return;
    loadBackground();
    notify(Change{Change::Kind::background, XCB_NONE, {}});
  }));
  if (ext.damage.present)
    eventHandlers_.push_back(conn_.onExtension<xcb_damage_notify_event_t>(
        ext.damage, XCB_DAMAGE_NOTIFY, [this](const auto& e) { onDamage(e); }));
  if (ext.shape.present)
    eventHandlers_.push_back(conn_.onExtension<xcb_shape_notify_event_t>(
        ext.shape, XCB_SHAPE_NOTIFY, [this](const xcb_shape_notify_event_t& e) {
          const TopLevel* t = stack_.find(e.affected_window);
          auto w = windows_.find(e.affected_window);
          if (e.shape_kind != XCB_SHAPE_SK_BOUNDING || !t || w == windows_.end()) return;
          dropPixmap(w->second);
          if (t->mapped) notify(Change{Change::Kind::stacking, XCB_NONE, outerRect(*t)});
        }));
  loadBackground();
  conn_.flush();
}

Backdrop::~Backdrop() {
  for (auto& [id, w] : windows_) {
    if (w.damage) conn_.ignoreErrors(xcb_damage_destroy_checked(c_, w.damage));
    if (w.shape) conn_.ignoreErrors(xcb_xfixes_destroy_region_checked(c_, w.shape));
  }
  if (backgroundDamage_) conn_.ignoreErrors(xcb_damage_destroy_checked(c_, backgroundDamage_));
  windows_.clear();  // the windows' pixmaps and pictures
  backgroundPicture_.reset();
  // Nothing else on this connection listens to the root: its events stop with the backdrop.
  const uint32_t none = 0;
  xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &none);
  setRedirected(false);
  conn_.flush();
}

void Backdrop::setRedirected(bool redirected) {
  if (redirected == redirected_) return;
  redirected_ = redirected;
  // Redirection may give windows new pixmaps, and ending it takes ours away.
  for (auto& [id, w] : windows_) dropPixmap(w);
  if (redirected) {
    xcb_composite_redirect_subwindows(c_, root_, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
  } else {
    conn_.ignoreErrors(
        xcb_composite_unredirect_subwindows_checked(c_, root_, XCB_COMPOSITE_REDIRECT_AUTOMATIC));
  }
  notify(Change{Change::Kind::background, XCB_NONE, {}});
}

Cancellable Backdrop::observe(std::function<void(const Change&)> handler) {
  return changes_.subscribe(std::move(handler));
}

void Backdrop::notify(const Change& change) {
  changes_.send(change);
}

void Backdrop::track(const TopLevel& window, const xcb_get_window_attributes_reply_t* attributes) {
  forget(window.id);
  Window& w = windows_[window.id];
  w.inputOnly = attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY;
  w.visual = attributes->visual;
  w.hasAlpha = formats_.hasAlpha(formats_.forVisual(w.visual));
  if (!w.inputOnly && conn_.extensions().shape.present)
    conn_.ignoreErrors(xcb_shape_select_input_checked(c_, window.id, 1));
  if (window.mapped) setMapped(window.id, w, true);
}

void Backdrop::forget(xcb_window_t id) {
  auto it = windows_.find(id);
  if (it == windows_.end()) return;
  setMapped(id, it->second, false);
  windows_.erase(it);
}

void Backdrop::setMapped(xcb_window_t id, Window& w, bool mapped) {
  dropPixmap(w);
  // The overlays' own pixels are never part of a backdrop: tracking them would only echo every
  // frame back as damage.
  const bool overlay = isOverlay(id);
  if (mapped && !overlay && !w.inputOnly && !w.damage && conn_.extensions().damage.present) {
    w.damage = xcb_generate_id(c_);
    conn_.ignoreErrors(
        xcb_damage_create_checked(c_, w.damage, id, XCB_DAMAGE_REPORT_LEVEL_DELTA_RECTANGLES));
  } else if (!mapped && w.damage) {
    // The server frees a window's damage objects when it is destroyed; then the request fails.
    conn_.ignoreErrors(xcb_damage_destroy_checked(c_, w.damage));
    w.damage = XCB_NONE;
  }
}

void Backdrop::dropPixmap(Window& w) {
  w.picture.reset();
  w.pixmap.reset();
  if (w.shape) {
    // Fails harmlessly when the region could not be made (the window was already gone).
    conn_.ignoreErrors(xcb_xfixes_destroy_region_checked(c_, w.shape));
    w.shape = XCB_NONE;
  }
}

bool Backdrop::ensurePicture(xcb_window_t id, Window& w) {
  if (w.picture) return true;
  const xcb_render_pictformat_t format = formats_.forVisual(w.visual);
  if (!format) return false;
  xcb_pixmap_t pixmap = xcb_generate_id(c_);
  conn_.ignoreErrors(xcb_composite_name_window_pixmap_checked(c_, id, pixmap));
  w.pixmap = ServerResource::quiet(c_, pixmap, &xcb_free_pixmap_checked);
  xcb_render_picture_t picture = xcb_generate_id(c_);
  conn_.ignoreErrors(xcb_render_create_picture_checked(c_, picture, pixmap, format, 0, nullptr));
  w.picture = ServerResource::quiet(c_, picture, &xcb_render_free_picture_checked);
  if (conn_.extensions().xfixes.present && conn_.extensions().shape.present) {
    w.shape = xcb_generate_id(c_);
    conn_.ignoreErrors(
        xcb_xfixes_create_region_from_window_checked(c_, w.shape, id, XCB_SHAPE_SK_BOUNDING));
  }
  return true;
}

void Backdrop::loadBackground() {
  backgroundPicture_.reset();
  if (backgroundDamage_) {
    conn_.ignoreErrors(xcb_damage_destroy_checked(c_, backgroundDamage_));
    backgroundDamage_ = XCB_NONE;
  }
  backgroundPixmap_ = XCB_NONE;
  for (xcb_atom_t atom : {rootPixmapAtom_, esetrootAtom_}) {
    if (atom == XCB_NONE) continue;
    auto prop = replyOf(c_, xcb_get_property_reply,
                        xcb_get_property(c_, 0, root_, atom, XCB_ATOM_PIXMAP, 0, 1));
    if (prop && prop->format == 32 && xcb_get_property_value_length(prop.get()) >= 4) {
      backgroundPixmap_ = *static_cast<xcb_pixmap_t*>(xcb_get_property_value(prop.get()));
      break;
    }
  }
  if (backgroundPixmap_ != XCB_NONE) {
    // The pixmap belongs to whoever set the background and may be gone; then the picture
    // request fails and the fallback colour is used below.
    auto geometry = replyOf(c_, xcb_get_geometry_reply, xcb_get_geometry(c_, backgroundPixmap_));
    const xcb_render_pictformat_t format = !geometry               ? 0
                                           : geometry->depth == 32 ? formats_.argb32
                                           : geometry->depth == 24 ? formats_.rgb24
                                                                   : 0;
    if (format) {
      xcb_render_picture_t picture = xcb_generate_id(c_);
      uint32_t repeat = XCB_RENDER_REPEAT_NORMAL;
      if (!conn_.errorOf(xcb_render_create_picture_checked(c_, picture, backgroundPixmap_, format,
                                                           XCB_RENDER_CP_REPEAT, &repeat))) {
        backgroundPicture_ = ownedPicture(c_, picture);
        if (conn_.extensions().damage.present) {
          backgroundDamage_ = xcb_generate_id(c_);
          conn_.ignoreErrors(xcb_damage_create_checked(c_, backgroundDamage_, backgroundPixmap_,
                                                       XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY));
        }
      }
    }
  }
  if (!backgroundPicture_) {
    const uint32_t rgb = readRootBackgroundColor().value_or(kFallbackBackground);
    backgroundPicture_ =
        solidPicture(c_, Color::deviceRGB(((rgb >> 16) & 0xff) / 255.0, ((rgb >> 8) & 0xff) / 255.0,
                                          (rgb & 0xff) / 255.0));
  }
}

std::optional<uint32_t> Backdrop::readRootBackgroundColor() {
  // X cannot report a window's background, but a window with a parent-relative background shows
  // its parent's: a 1x1 probe at the bottom of the stack (where it covers nothing that is not
  // already the root background) is painted with it and read back.
  const xcb_screen_t* screen = conn_.screen();
  if (screen->root_depth != 24) return std::nullopt;
  const xcb_window_t probe = xcb_generate_id(c_);
  const uint32_t values[] = {XCB_BACK_PIXMAP_PARENT_RELATIVE, 1};
  xcb_create_window(c_, XCB_COPY_FROM_PARENT, probe, root_, 0, 0, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                    XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT, values);
  const uint32_t bottom = XCB_STACK_MODE_BELOW;
  xcb_configure_window(c_, probe, XCB_CONFIG_WINDOW_STACK_MODE, &bottom);
  xcb_map_window(c_, probe);
  auto image = replyOf(c_, xcb_get_image_reply,
                       xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, probe, 0, 0, 1, 1, ~0u));
  xcb_destroy_window(c_, probe);
  if (!image || xcb_get_image_data_length(image.get()) < 4) return std::nullopt;
  uint32_t pixel = 0;
  std::memcpy(&pixel, xcb_get_image_data(image.get()), 4);
  return pixel & 0xffffff;
}

xcb_window_t Backdrop::topLevelOf(xcb_window_t window) const {
  if (stack_.find(window)) return window;
  if (auto it = frames_.find(window); it != frames_.end()) return it->second;
  // A window manager that manages an overlay may have put it in a frame: walk up to the root's
  // child (round trips, once per reparenting).
  xcb_window_t current = window;
  for (int depth = 0; depth < 8; ++depth) {
    auto tree = replyOf(c_, xcb_query_tree_reply, xcb_query_tree(c_, current));
    if (!tree) return XCB_NONE;
    if (tree->parent == root_) {
      frames_[window] = current;
      return current;
    }
    current = tree->parent;
  }
  return XCB_NONE;
}

std::vector<Backdrop::Layer> Backdrop::layersBelow(xcb_window_t overlay) const {
  const xcb_window_t self = topLevelOf(overlay);
  std::vector<Layer> layers;
  for (const TopLevel& t : stack_.windows()) {
    if (t.id == self) return layers;
    if (!t.mapped || isOverlay(t.id)) continue;
    auto w = windows_.find(t.id);
    if (w == windows_.end() || w->second.inputOnly) continue;
    layers.push_back(Layer{t.id, outerRect(t)});
  }
  return {};  // the overlay is not (yet) on the screen: nothing is known to be below it
}

bool Backdrop::isOverlay(xcb_window_t topLevel) const {
  return std::any_of(overlays_.begin(), overlays_.end(),
                     [&](xcb_window_t o) { return o == topLevel || topLevelOf(o) == topLevel; });
}

void Backdrop::setOverlays(std::vector<xcb_window_t> overlays) {
  overlays_ = std::move(overlays);
  for (auto& [id, w] : windows_) {
    if (isOverlay(id) && w.damage) {
      conn_.ignoreErrors(xcb_damage_destroy_checked(c_, w.damage));
      w.damage = XCB_NONE;
    }
  }
}

bool Backdrop::isViewable(xcb_window_t window) const {
  const TopLevel* t = stack_.find(topLevelOf(window));
  return t && t->mapped;
}

void Backdrop::compose(const std::vector<Layer>& layers, const Box& area,
                       xcb_render_picture_t destination, int originX, int originY) {
  if (area.isEmpty()) return;
  // Each pixel is written once by the topmost opaque window over it (and translucent windows
  // above that are blended over it): on a desktop of stacked maximized windows every hidden one
  // would otherwise cost a full-size pass. Walking down from the top, each window is clipped to
  // its shape less what the opaque windows above it already cover; whatever no opaque window
  // covers gets the background. The regions live on the server, so this costs no round trip.
  // A window whose region cannot be had (it vanished) covers nothing and draws nothing, so the
  // windows and background below it show wherever it might be missing.
  const xcb_rectangle_t areaRect{
      static_cast<int16_t>(area.x0 - originX), static_cast<int16_t>(area.y0 - originY),
      static_cast<uint16_t>(area.width()), static_cast<uint16_t>(area.height())};
  auto newRegion = [this](const xcb_rectangle_t* rect) {
    const xcb_xfixes_region_t region = xcb_generate_id(c_);
    xcb_xfixes_create_region(c_, region, rect ? 1 : 0, rect);
    return region;
  };
  const xcb_xfixes_region_t areaRegion = newRegion(&areaRect);
  const xcb_xfixes_region_t covered = newRegion(nullptr);
  struct Draw {
    const Window* window;
    Box windowRect;  // the window's outer rectangle, root coordinates
    Box rect;        // the layer inside `area`, root coordinates
    xcb_xfixes_region_t clip;
  };
  std::vector<Draw> draws;
  for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
    const Box r = it->rect.intersected(area);
    if (r.isEmpty()) continue;
    const TopLevel* t = stack_.find(it->window);
    auto found = windows_.find(it->window);
    if (!t || !t->mapped || found == windows_.end() || !ensurePicture(t->id, found->second))
      continue;
    const Window* w = &found->second;
    const Box windowRect = outerRect(*t);
    const xcb_xfixes_region_t clip = newRegion(nullptr);
    if (w->shape) {
      conn_.ignoreErrors(xcb_xfixes_copy_region_checked(c_, w->shape, clip));
      conn_.ignoreErrors(xcb_xfixes_translate_region_checked(
          c_, clip, static_cast<int16_t>(t->x + t->border - originX),
          static_cast<int16_t>(t->y + t->border - originY)));
    } else {
      const xcb_rectangle_t rect{static_cast<int16_t>(windowRect.x0 - originX),
                                 static_cast<int16_t>(windowRect.y0 - originY),
                                 static_cast<uint16_t>(windowRect.width()),
                                 static_cast<uint16_t>(windowRect.height())};
      xcb_xfixes_set_region(c_, clip, 1, &rect);
    }
    xcb_xfixes_intersect_region(c_, clip, areaRegion, clip);
    xcb_xfixes_subtract_region(c_, clip, covered, clip);
    if (!w->hasAlpha) xcb_xfixes_union_region(c_, covered, clip, covered);
    draws.push_back(Draw{w, windowRect, r, clip});
  }
  xcb_xfixes_subtract_region(c_, areaRegion, covered, areaRegion);
  xcb_xfixes_set_picture_clip_region(c_, destination, areaRegion, 0, 0);
  xcb_render_composite(c_, XCB_RENDER_PICT_OP_SRC, backgroundPicture_.id(), XCB_NONE, destination,
                       static_cast<int16_t>(area.x0), static_cast<int16_t>(area.y0), 0, 0,
                       static_cast<int16_t>(area.x0 - originX),
                       static_cast<int16_t>(area.y0 - originY), static_cast<uint16_t>(area.width()),
                       static_cast<uint16_t>(area.height()));
  for (auto it = draws.rbegin(); it != draws.rend(); ++it) {
    const Window& w = *it->window;
    const Box& r = it->rect;
    const Box& wr = it->windowRect;
    xcb_xfixes_set_picture_clip_region(c_, destination, it->clip, 0, 0);
    // A window that vanished since it was named leaves a valid pixmap behind; one that vanished
    // before has no picture, and the request fails without consequence.
    conn_.ignoreErrors(xcb_render_composite_checked(
        c_, w.hasAlpha ? XCB_RENDER_PICT_OP_OVER : XCB_RENDER_PICT_OP_SRC, w.picture.id(), XCB_NONE,
        destination, static_cast<int16_t>(r.x0 - wr.x0), static_cast<int16_t>(r.y0 - wr.y0), 0, 0,
        static_cast<int16_t>(r.x0 - originX), static_cast<int16_t>(r.y0 - originY),
        static_cast<uint16_t>(r.width()), static_cast<uint16_t>(r.height())));
    xcb_xfixes_destroy_region(c_, it->clip);
  }
  xcb_xfixes_set_picture_clip_region(c_, destination, XCB_NONE, 0, 0);
  xcb_xfixes_destroy_region(c_, covered);
  xcb_xfixes_destroy_region(c_, areaRegion);
}

void Backdrop::onStackChange(const StackChange& change) {
  const xcb_window_t id = change.window.id;
  const Box rect = outerRect(change.window);
  auto stackingChanged = [this](const Box& area) {
    notify(Change{Change::Kind::stacking, XCB_NONE, area});
  };
  switch (change.kind) {
    case StackChange::Kind::added: {
      std::erase_if(frames_, [&](const auto& f) { return f.first == id; });
      auto attributes =
          replyOf(c_, xcb_get_window_attributes_reply, xcb_get_window_attributes(c_, id));
      if (!attributes) return;  // already gone
      track(change.window, attributes.get());
      if (change.window.mapped) stackingChanged(rect);
      return;
    }
    case StackChange::Kind::removed:
      std::erase_if(frames_, [&](const auto& f) { return f.first == id || f.second == id; });
      forget(id);
      if (change.window.mapped) stackingChanged(rect);
      return;
    case StackChange::Kind::mapped:
      if (auto w = windows_.find(id); w != windows_.end()) {
        setMapped(id, w->second, change.window.mapped);
        stackingChanged(rect);
      }
      return;
    case StackChange::Kind::configured:
      if (auto w = windows_.find(id); w != windows_.end() && change.resized)
        dropPixmap(w->second);  // the server allocated a new pixmap
      if (change.window.mapped) stackingChanged(outerRect(change.before).united(rect));
      return;
    case StackChange::Kind::rootResized:
      return;
  }
}

void Backdrop::onDamage(const xcb_damage_notify_event_t& e) {
  // Re-arm at once: with delta reports every later change is reported again, so nothing that
  // happens between this event and the next frame is lost.
  conn_.ignoreErrors(xcb_damage_subtract_checked(c_, e.damage, XCB_NONE, XCB_NONE));
  if (e.damage == backgroundDamage_) {
    notify(Change{Change::Kind::background, XCB_NONE, {}});
    return;
  }
  const TopLevel* t = stack_.find(e.drawable);
  if (!t || !t->mapped) return;
  const Box area = Box::ofSize(e.area.x, e.area.y, e.area.width, e.area.height)
                       .translated(t->x + t->border, t->y + t->border);
  notify(Change{Change::Kind::content, t->id, area});
}

}  // namespace dunelo::x11
