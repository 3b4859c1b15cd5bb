// Small pieces every part of the overlay renderer needs from the RENDER extension: the picture
// formats of the server, server resources that free themselves, fixed-point transforms and colour
// conversion, and the upload of a client-side image into a picture.
//
// The renderer keeps all pixel work on the X server (pixman) and only sends requests, so these
// helpers never wait for a reply except when formats are looked up once at start.
#pragma once

#include <xcb/render.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "core/bitmap.h"
#include "core/color.h"
#include "platform/x11/render/box.h"

namespace dunelo::x11 {

// The standard picture formats and the format of every visual of the server.
struct PictFormats {
  xcb_render_pictformat_t argb32 = 0;  // a8r8g8b8, premultiplied
  xcb_render_pictformat_t rgb24 = 0;   // x8r8g8b8
  xcb_render_pictformat_t a8 = 0;
  std::map<xcb_visualid_t, xcb_render_pictformat_t> visualFormats;
  std::map<xcb_render_pictformat_t, bool> formatHasAlpha;

  // The format of `visual`, or 0 when the server does not know it.
  xcb_render_pictformat_t forVisual(xcb_visualid_t visual) const;
  bool hasAlpha(xcb_render_pictformat_t format) const;
};

// None when RENDER is missing or older than 0.11 (the blend operators need 0.11).
std::optional<PictFormats> queryPictFormats(xcb_connection_t* c);

// An XID the renderer created, freed with the matching request when the owner goes away.
class ServerResource {
 public:
  using FreeFn = xcb_void_cookie_t (*)(xcb_connection_t*, uint32_t);

  ServerResource() = default;
  ServerResource(xcb_connection_t* c, uint32_t id, FreeFn free) : c_(c), id_(id), free_(free) {}
  // For resources that may already be gone when freed: `checkedFree` is a checked request whose
  // error is discarded.
  static ServerResource quiet(xcb_connection_t* c, uint32_t id, FreeFn checkedFree) {
    ServerResource r(c, id, checkedFree);
    r.quiet_ = true;
    return r;
  }
  ServerResource(ServerResource&& o) noexcept
      : c_(o.c_), id_(std::exchange(o.id_, 0)), free_(o.free_), quiet_(o.quiet_) {}
  ServerResource& operator=(ServerResource&& o) noexcept {
    if (this != &o) {
      reset();
      c_ = o.c_;
      id_ = std::exchange(o.id_, 0);
      free_ = o.free_;
      quiet_ = o.quiet_;
    }
    return *this;
  }
  ServerResource(const ServerResource&) = delete;
  ServerResource& operator=(const ServerResource&) = delete;
  ~ServerResource() { reset(); }

  uint32_t id() const { return id_; }
  explicit operator bool() const { return id_ != 0; }
  void reset();

 private:
  xcb_connection_t* c_ = nullptr;
  uint32_t id_ = 0;
  FreeFn free_ = nullptr;
  bool quiet_ = false;
};

ServerResource ownedPicture(xcb_connection_t* c, xcb_render_picture_t picture);
ServerResource ownedPixmap(xcb_connection_t* c, xcb_pixmap_t pixmap);

// An offscreen pixmap with a picture on it.
struct ScratchPicture {
  ServerResource pixmap;
  ServerResource picture;
  int width = 0;
  int height = 0;
  xcb_render_picture_t id() const { return picture.id(); }
  explicit operator bool() const { return static_cast<bool>(picture); }
};

// A `width` x `height` pixmap of `depth` with a picture in `format`; the picture samples its
// edge pixels beyond its bounds (pad) so that filters do not darken the borders.
ScratchPicture makeScratchPicture(xcb_connection_t* c, xcb_drawable_t anyDrawable, int width,
                                  int height, uint8_t depth, xcb_render_pictformat_t format);

// A second picture on `pixmap` that is read through a scaling transform by `factor` with
// `filter` ("bilinear" or "nearest"), padding at the edges.
ServerResource scaledPicture(xcb_connection_t* c, xcb_pixmap_t pixmap,
                             xcb_render_pictformat_t format, double factor, const char* filter);

xcb_render_fixed_t toFixed(double value);
// A transform that maps destination coordinates to source coordinates scaled by `factor`
// (2 reads a picture twice as large, that is, halves it).
xcb_render_transform_t scaleTransform(double factor);
xcb_render_transform_t identityTransform();

// A RENDER colour, 16 bits per channel. `premultiplied` for solid fills and fill requests;
// gradient stops are given unpremultiplied.
xcb_render_color_t renderColor(const Color& color, bool premultiplied = true);
// A solid source of `color`; masks use only its alpha.
ServerResource solidPicture(xcb_connection_t* c, const Color& color);

// Uploads an RGBA bitmap (unpremultiplied, rows top to bottom) into a new a8r8g8b8 picture that
// repeats beyond its bounds. Large images go up in strips that fit the request size limit.
ScratchPicture uploadBitmap(xcb_connection_t* c, xcb_drawable_t anyDrawable,
                            const PictFormats& formats, const Bitmap& image);

// Composites `b` of `src` (and `mask`, 0 for none) into `dst` at `b` moved by (`dx`, `dy`); an
// empty box draws nothing.
void composite(xcb_connection_t* c, uint8_t op, xcb_render_picture_t src, xcb_render_picture_t mask,
               xcb_render_picture_t dst, const Box& b, int dx = 0, int dy = 0);

// Sets the picture's transform and filter in one go ("bilinear" or "nearest").
void setTransform(xcb_connection_t* c, xcb_render_picture_t picture,
                  const xcb_render_transform_t& transform, const char* filter);

}  // namespace dunelo::x11
