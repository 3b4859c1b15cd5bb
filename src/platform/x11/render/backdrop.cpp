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

Box outerRect(int x, int y, int width, int height, int border) {
  return Box::ofSize(x, y, width + 2 * border, height + 2 * border);
}

}  // namespace

Backdrop::Backdrop(X11Connection& connection, const PictFormats& formats)
    : conn_(connection), c_(connection.xcb()), formats_(formats), root_(connection.root()) {
  const auto& ext = conn_.extensions();
  damageEvent_ = ext.damage.firstEvent;
  shapeEvent_ = ext.shape.firstEvent;
  rootPixmapAtom_ = conn_.atom("_XROOTPMAP_ID");
  esetrootAtom_ = conn_.atom("ESETROOT_PMAP_ID");

  auto on = [this](uint8_t type) {
    eventHandlers_.push_back(
        conn_.addEventHandler(type, [this](const xcb_generic_event_t& e) { handleEvent(e); }));
  };
  for (uint8_t type :
       {XCB_CREATE_NOTIFY, XCB_DESTROY_NOTIFY, XCB_CONFIGURE_NOTIFY, XCB_MAP_NOTIFY,
        XCB_UNMAP_NOTIFY, XCB_REPARENT_NOTIFY, XCB_CIRCULATE_NOTIFY, XCB_PROPERTY_NOTIFY}) {
    on(type);
  }
  if (ext.damage.present) on(static_cast<uint8_t>(damageEvent_ + XCB_DAMAGE_NOTIFY));
  if (ext.shape.present) on(static_cast<uint8_t>(shapeEvent_ + XCB_SHAPE_NOTIFY));

  // Other clients (the window manager, other programs) may select the same events on the root;
  // event masks are per client, so this never takes anything away from them.
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &mask);
  loadTree();
  loadBackground();
  conn_.flush();
}

Backdrop::~Backdrop() {
  for (Window& w : stack_) {
    if (w.damage) conn_.ignoreErrors(xcb_damage_destroy_checked(c_, w.damage));
    if (w.shape) conn_.ignoreErrors(xcb_xfixes_destroy_region_checked(c_, w.shape));
  }
  if (backgroundDamage_) conn_.ignoreErrors(xcb_damage_destroy_checked(c_, backgroundDamage_));
  stack_.clear();  // the windows' pixmaps and pictures
  backgroundPicture_.reset();
  const uint32_t none = 0;
  xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &none);
  setRedirected(false);
  conn_.flush();
}

void Backdrop::setRedirected(bool redirected) {
  if (redirected == redirected_) return;
  redirected_ = redirected;
  // Redirection may give windows new pixmaps, and ending it takes ours away.
  for (Window& w : stack_) dropPixmap(w);
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

void Backdrop::loadTree() {
  auto tree = replyOf(c_, xcb_query_tree_reply, xcb_query_tree(c_, root_));
  if (!tree) return;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  const int n = xcb_query_tree_children_length(tree.get());
  std::vector<xcb_get_window_attributes_cookie_t> attrs;
  std::vector<xcb_get_geometry_cookie_t> geoms;
  for (int i = 0; i < n; ++i) {
    attrs.push_back(xcb_get_window_attributes(c_, children[i]));
    geoms.push_back(xcb_get_geometry(c_, children[i]));
  }
  for (int i = 0; i < n; ++i) {
    auto a = replyOf(c_, xcb_get_window_attributes_reply, attrs[static_cast<size_t>(i)]);
    auto g = replyOf(c_, xcb_get_geometry_reply, geoms[static_cast<size_t>(i)]);
    if (!a || !g) continue;  // vanished meanwhile
    add(children[i], outerRect(g->x, g->y, g->width, g->height, g->border_width), g->border_width,
        a->map_state == XCB_MAP_STATE_VIEWABLE, a->_class == XCB_WINDOW_CLASS_INPUT_ONLY, a->visual,
        stack_.empty() ? XCB_NONE : stack_.back().id);
  }
}

Backdrop::Window* Backdrop::find(xcb_window_t id) {
  auto it =
      std::find_if(stack_.begin(), stack_.end(), [id](const Window& w) { return w.id == id; });
  return it == stack_.end() ? nullptr : &*it;
}

const Backdrop::Window* Backdrop::find(xcb_window_t id) const {
  return const_cast<Backdrop*>(this)->find(id);
}

void Backdrop::add(xcb_window_t id, const Box& rect, int border, bool mapped, bool inputOnly,
                   xcb_visualid_t visual, xcb_window_t above) {
  if (find(id)) remove(id);
  Window w;
  w.id = id;
  w.rect = rect;
  w.borderWidth = border;
  w.inputOnly = inputOnly;
  w.visual = visual;
  w.hasAlpha = formats_.hasAlpha(formats_.forVisual(visual));
  if (!inputOnly && conn_.extensions().shape.present) {
    conn_.ignoreErrors(xcb_shape_select_input_checked(c_, id, 1));
  }
  stack_.push_back(std::move(w));
  restack(id, above);
  if (mapped) setMapped(*find(id), true);
}

void Backdrop::remove(xcb_window_t id) {
  auto it =
      std::find_if(stack_.begin(), stack_.end(), [id](const Window& w) { return w.id == id; });
  if (it == stack_.end()) return;
  setMapped(*it, false);
  stack_.erase(it);
}

void Backdrop::restack(xcb_window_t id, xcb_window_t above) {
  auto it =
      std::find_if(stack_.begin(), stack_.end(), [id](const Window& w) { return w.id == id; });
  if (it == stack_.end()) return;
  Window w = std::move(*it);
  stack_.erase(it);
  auto pos = stack_.begin();  // no sibling: bottom of the stack
  if (above != XCB_NONE) {
    auto sib = std::find_if(stack_.begin(), stack_.end(),
                            [above](const Window& s) { return s.id == above; });
    pos = sib == stack_.end() ? stack_.end() : sib + 1;
  }
  stack_.insert(pos, std::move(w));
}

void Backdrop::setMapped(Window& w, bool mapped) {
  dropPixmap(w);
  w.mapped = mapped;
  // The overlays' own pixels are never part of a backdrop: tracking them would only echo every
  // frame back as damage.
  const bool overlay = isOverlay(w.id);
  if (mapped && !overlay && !w.inputOnly && !w.damage && conn_.extensions().damage.present) {
    w.damage = xcb_generate_id(c_);
    conn_.ignoreErrors(
        xcb_damage_create_checked(c_, w.damage, w.id, XCB_DAMAGE_REPORT_LEVEL_DELTA_RECTANGLES));
  } else if (!mapped && w.damage) {
    // The server frees a window's damage objects when it is destroyed; the request may fail.
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

bool Backdrop::ensurePicture(Window& w) {
  if (w.picture) return true;
  const xcb_render_pictformat_t format = formats_.forVisual(w.visual);
  if (!format) return false;
  xcb_pixmap_t pixmap = xcb_generate_id(c_);
  conn_.ignoreErrors(xcb_composite_name_window_pixmap_checked(c_, w.id, pixmap));
  w.pixmap = ServerResource::quiet(c_, pixmap, &xcb_free_pixmap_checked);
  xcb_render_picture_t picture = xcb_generate_id(c_);
  conn_.ignoreErrors(xcb_render_create_picture_checked(c_, picture, pixmap, format, 0, nullptr));
  w.picture = ServerResource::quiet(c_, picture, &xcb_render_free_picture_checked);
  if (conn_.extensions().xfixes.present && conn_.extensions().shape.present) {
    w.shape = xcb_generate_id(c_);
    conn_.ignoreErrors(
        xcb_xfixes_create_region_from_window_checked(c_, w.shape, w.id, XCB_SHAPE_SK_BOUNDING));
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
  if (find(window)) return window;
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
  for (const Window& w : stack_) {
    if (w.id == self) return layers;
    if (!w.mapped || w.inputOnly || isOverlay(w.id)) continue;
    layers.push_back(Layer{w.id, w.rect});
  }
  return {};  // the overlay is not (yet) on the screen: nothing is known to be below it
}

bool Backdrop::isOverlay(xcb_window_t topLevel) const {
  return std::any_of(overlays_.begin(), overlays_.end(),
                     [&](xcb_window_t o) { return o == topLevel || topLevelOf(o) == topLevel; });
}

void Backdrop::setOverlays(std::vector<xcb_window_t> overlays) {
  overlays_ = std::move(overlays);
  for (Window& w : stack_) {
    if (isOverlay(w.id) && w.damage) {
      conn_.ignoreErrors(xcb_damage_destroy_checked(c_, w.damage));
      w.damage = XCB_NONE;
    }
  }
}

bool Backdrop::isViewable(xcb_window_t window) const {
  const Window* w = find(topLevelOf(window));
  return w && w->mapped;
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
    Window* window;
    Box rect;  // the layer inside `area`, root coordinates
    xcb_xfixes_region_t clip;
  };
  std::vector<Draw> draws;
  for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
    const Box r = it->rect.intersected(area);
    if (r.isEmpty()) continue;
    Window* w = find(it->window);
    if (!w || !w->mapped || !ensurePicture(*w)) continue;
    const xcb_xfixes_region_t clip = newRegion(nullptr);
    if (w->shape) {
      conn_.ignoreErrors(xcb_xfixes_copy_region_checked(c_, w->shape, clip));
      conn_.ignoreErrors(xcb_xfixes_translate_region_checked(
          c_, clip, static_cast<int16_t>(w->rect.x0 + w->borderWidth - originX),
          static_cast<int16_t>(w->rect.y0 + w->borderWidth - originY)));
    } else {
      const xcb_rectangle_t rect{
          static_cast<int16_t>(w->rect.x0 - originX), static_cast<int16_t>(w->rect.y0 - originY),
          static_cast<uint16_t>(w->rect.width()), static_cast<uint16_t>(w->rect.height())};
      xcb_xfixes_set_region(c_, clip, 1, &rect);
    }
    xcb_xfixes_intersect_region(c_, clip, areaRegion, clip);
    xcb_xfixes_subtract_region(c_, clip, covered, clip);
    if (!w->hasAlpha) xcb_xfixes_union_region(c_, covered, clip, covered);
    draws.push_back(Draw{w, r, clip});
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
    xcb_xfixes_set_picture_clip_region(c_, destination, it->clip, 0, 0);
    // A window that vanished since it was named leaves a valid pixmap behind; one that vanished
    // before has no picture, and the request fails without consequence.
    conn_.ignoreErrors(xcb_render_composite_checked(
        c_, w.hasAlpha ? XCB_RENDER_PICT_OP_OVER : XCB_RENDER_PICT_OP_SRC, w.picture.id(), XCB_NONE,
        destination, static_cast<int16_t>(r.x0 - w.rect.x0), static_cast<int16_t>(r.y0 - w.rect.y0),
        0, 0, static_cast<int16_t>(r.x0 - originX), static_cast<int16_t>(r.y0 - originY),
        static_cast<uint16_t>(r.width()), static_cast<uint16_t>(r.height())));
    xcb_xfixes_destroy_region(c_, it->clip);
  }
  xcb_xfixes_set_picture_clip_region(c_, destination, XCB_NONE, 0, 0);
  xcb_xfixes_destroy_region(c_, covered);
  xcb_xfixes_destroy_region(c_, areaRegion);
}

void Backdrop::handleEvent(const xcb_generic_event_t& event) {
  const uint8_t type = event.response_type & 0x7f;
  auto stackingChanged = [this](const Box& area) {
    notify(Change{Change::Kind::stacking, XCB_NONE, area});
  };
  switch (type) {
    case XCB_CREATE_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_create_notify_event_t&>(event);
      if (e.parent != root_) return;
      auto attrs =
          replyOf(c_, xcb_get_window_attributes_reply, xcb_get_window_attributes(c_, e.window));
      if (!attrs) return;  // already gone
      add(e.window, outerRect(e.x, e.y, e.width, e.height, e.border_width), e.border_width, false,
          attrs->_class == XCB_WINDOW_CLASS_INPUT_ONLY, attrs->visual,
          stack_.empty() ? XCB_NONE : stack_.back().id);
      return;
    }
    case XCB_DESTROY_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
      std::erase_if(frames_, [&](const auto& f) { return f.second == e.window; });
      Window* w = find(e.window);
      if (!w) return;
      const Box rect = w->rect;
      const bool wasMapped = w->mapped;
      w->damage = XCB_NONE;  // freed with the window
      remove(e.window);
      if (wasMapped) stackingChanged(rect);
      return;
    }
    case XCB_CONFIGURE_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
      if (e.event != root_) return;
      Window* w = find(e.window);
      if (!w) return;
      const Box old = w->rect;
      const Box now = outerRect(e.x, e.y, e.width, e.height, e.border_width);
      if (old.width() != now.width() || old.height() != now.height() ||
          w->borderWidth != e.border_width) {
        dropPixmap(*w);  // the server allocated a new pixmap
      }
      w->rect = now;
      w->borderWidth = e.border_width;
      const bool mapped = w->mapped;
      restack(e.window, e.above_sibling);
      if (mapped) stackingChanged(old.united(now));
      return;
    }
    case XCB_MAP_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_map_notify_event_t&>(event);
      if (e.event != root_) return;
      if (Window* w = find(e.window)) {
        setMapped(*w, true);
        stackingChanged(w->rect);
      }
      return;
    }
    case XCB_UNMAP_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_unmap_notify_event_t&>(event);
      if (e.event != root_) return;
      if (Window* w = find(e.window)) {
        setMapped(*w, false);
        stackingChanged(w->rect);
      }
      return;
    }
    case XCB_REPARENT_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_reparent_notify_event_t&>(event);
      if (e.event != root_) return;
      frames_.clear();
      if (e.parent == root_) {
        auto attrs =
            replyOf(c_, xcb_get_window_attributes_reply, xcb_get_window_attributes(c_, e.window));
        auto geom = replyOf(c_, xcb_get_geometry_reply, xcb_get_geometry(c_, e.window));
        if (!attrs || !geom) return;
        add(e.window, outerRect(geom->x, geom->y, geom->width, geom->height, geom->border_width),
            geom->border_width, attrs->map_state == XCB_MAP_STATE_VIEWABLE,
            attrs->_class == XCB_WINDOW_CLASS_INPUT_ONLY, attrs->visual,
            stack_.empty() ? XCB_NONE : stack_.back().id);
        if (const Window* w = find(e.window); w && w->mapped) stackingChanged(w->rect);
      } else if (Window* w = find(e.window)) {
        const Box rect = w->rect;
        const bool wasMapped = w->mapped;
        remove(e.window);
        if (wasMapped) stackingChanged(rect);
      }
      return;
    }
    case XCB_CIRCULATE_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_circulate_notify_event_t&>(event);
      if (e.event != root_) return;
      Window* w = find(e.window);
      if (!w) return;
      const Box rect = w->rect;
      const bool mapped = w->mapped;
      restack(e.window, e.place == XCB_PLACE_ON_TOP ? stack_.back().id : XCB_NONE);
      if (mapped) stackingChanged(rect);
      return;
    }
    case XCB_PROPERTY_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_property_notify_event_t&>(event);
      if (e.window != root_ || (e.atom != rootPixmapAtom_ && e.atom != esetrootAtom_)) return;
      loadBackground();
      notify(Change{Change::Kind::background, XCB_NONE, {}});
      return;
    }
    default:
      break;
  }
  if (conn_.extensions().damage.present && type == damageEvent_ + XCB_DAMAGE_NOTIFY) {
    const auto& e = reinterpret_cast<const xcb_damage_notify_event_t&>(event);
    // Re-arm at once: with delta reports every later change is reported again, so nothing that
    // happens between this event and the next frame is lost.
    conn_.ignoreErrors(xcb_damage_subtract_checked(c_, e.damage, XCB_NONE, XCB_NONE));
    if (e.damage == backgroundDamage_) {
      notify(Change{Change::Kind::background, XCB_NONE, {}});
      return;
    }
    const Window* w = find(e.drawable);
    if (!w || !w->mapped) return;
    const Box area = Box::ofSize(e.area.x, e.area.y, e.area.width, e.area.height)
                         .translated(w->rect.x0 + w->borderWidth, w->rect.y0 + w->borderWidth);
    notify(Change{Change::Kind::content, w->id, area});
    return;
  }
  if (conn_.extensions().shape.present && type == shapeEvent_ + XCB_SHAPE_NOTIFY) {
    const auto& e = reinterpret_cast<const xcb_shape_notify_event_t&>(event);
    if (e.shape_kind != XCB_SHAPE_SK_BOUNDING) return;
    Window* w = find(e.affected_window);
    if (!w) return;
    dropPixmap(*w);
    if (w->mapped) stackingChanged(w->rect);
  }
}

}  // namespace dunelo::x11
