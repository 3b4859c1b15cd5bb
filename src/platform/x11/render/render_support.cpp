#include "platform/x11/render/render_support.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace dunelo::x11 {

xcb_render_pictformat_t PictFormats::forVisual(xcb_visualid_t visual) const {
  auto it = visualFormats.find(visual);
  return it == visualFormats.end() ? 0 : it->second;
}

bool PictFormats::hasAlpha(xcb_render_pictformat_t format) const {
  auto it = formatHasAlpha.find(format);
  return it != formatHasAlpha.end() && it->second;
}

std::optional<PictFormats> queryPictFormats(xcb_connection_t* c) {
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_render_id);
  if (!ext || !ext->present) return std::nullopt;
  xcb_render_query_version_reply_t* version = xcb_render_query_version_reply(
      c, xcb_render_query_version(c, XCB_RENDER_MAJOR_VERSION, XCB_RENDER_MINOR_VERSION), nullptr);
  if (!version) return std::nullopt;
  bool recent = version->major_version > 0 || version->minor_version >= 11;
  free(version);
  if (!recent) return std::nullopt;

  xcb_render_query_pict_formats_reply_t* reply =
      xcb_render_query_pict_formats_reply(c, xcb_render_query_pict_formats(c), nullptr);
  if (!reply) return std::nullopt;
  PictFormats formats;
  auto it = xcb_render_query_pict_formats_formats_iterator(reply);
  for (; it.rem; xcb_render_pictforminfo_next(&it)) {
    const xcb_render_pictforminfo_t& f = *it.data;
    if (f.type != XCB_RENDER_PICT_TYPE_DIRECT) continue;
    const xcb_render_directformat_t& d = f.direct;
    formats.formatHasAlpha[f.id] = d.alpha_mask != 0;
    bool rgb = d.red_shift == 16 && d.red_mask == 0xff && d.green_shift == 8 &&
               d.green_mask == 0xff && d.blue_shift == 0 && d.blue_mask == 0xff;
    if (f.depth == 32 && rgb && d.alpha_shift == 24 && d.alpha_mask == 0xff) formats.argb32 = f.id;
    if (f.depth == 24 && rgb && d.alpha_mask == 0) formats.rgb24 = f.id;
    if (f.depth == 8 && d.alpha_mask == 0xff && d.red_mask == 0 && d.green_mask == 0 &&
        d.blue_mask == 0) {
      formats.a8 = f.id;
    }
  }
  auto screens = xcb_render_query_pict_formats_screens_iterator(reply);
  for (; screens.rem; xcb_render_pictscreen_next(&screens)) {
    auto depths = xcb_render_pictscreen_depths_iterator(screens.data);
    for (; depths.rem; xcb_render_pictdepth_next(&depths)) {
      auto visuals = xcb_render_pictdepth_visuals_iterator(depths.data);
      for (; visuals.rem; xcb_render_pictvisual_next(&visuals)) {
        formats.visualFormats[visuals.data->visual] = visuals.data->format;
      }
    }
  }
  free(reply);
  if (!formats.argb32 || !formats.rgb24) return std::nullopt;
  return formats;
}

void ServerResource::reset() {
  if (id_ && c_ && free_) {
    const xcb_void_cookie_t cookie = free_(c_, id_);
    if (quiet_) xcb_discard_reply(c_, cookie.sequence);
  }
  id_ = 0;
}

ServerResource ownedPicture(xcb_connection_t* c, xcb_render_picture_t picture) {
  return ServerResource(c, picture, &xcb_render_free_picture);
}

ServerResource ownedPixmap(xcb_connection_t* c, xcb_pixmap_t pixmap) {
  return ServerResource(c, pixmap, &xcb_free_pixmap);
}

ScratchPicture makeScratchPicture(xcb_connection_t* c, xcb_drawable_t anyDrawable, int width,
                                  int height, uint8_t depth, xcb_render_pictformat_t format) {
  ScratchPicture s;
  s.width = std::max(1, width);
  s.height = std::max(1, height);
  xcb_pixmap_t pixmap = xcb_generate_id(c);
  xcb_create_pixmap(c, depth, pixmap, anyDrawable, static_cast<uint16_t>(s.width),
                    static_cast<uint16_t>(s.height));
  s.pixmap = ownedPixmap(c, pixmap);
  xcb_render_picture_t picture = xcb_generate_id(c);
  uint32_t repeat = XCB_RENDER_REPEAT_PAD;
  xcb_render_create_picture(c, picture, pixmap, format, XCB_RENDER_CP_REPEAT, &repeat);
  s.picture = ownedPicture(c, picture);
  return s;
}

ServerResource scaledPicture(xcb_connection_t* c, xcb_pixmap_t pixmap,
                             xcb_render_pictformat_t format, double factor, const char* filter) {
  xcb_render_picture_t picture = xcb_generate_id(c);
  uint32_t repeat = XCB_RENDER_REPEAT_PAD;
  xcb_render_create_picture(c, picture, pixmap, format, XCB_RENDER_CP_REPEAT, &repeat);
  setTransform(c, picture, scaleTransform(factor), filter);
  return ownedPicture(c, picture);
}

xcb_render_fixed_t toFixed(double value) {
  return static_cast<xcb_render_fixed_t>(std::lround(value * 65536.0));
}

xcb_render_transform_t scaleTransform(double factor) {
  xcb_render_transform_t t{};
  t.matrix11 = toFixed(factor);
  t.matrix22 = toFixed(factor);
  t.matrix33 = toFixed(1);
  return t;
}

xcb_render_transform_t identityTransform() {
  return scaleTransform(1);
}

namespace {
uint16_t channel16(double v) {
  return static_cast<uint16_t>(std::lround(std::clamp(v, 0.0, 1.0) * 0xffff));
}
}  // namespace

xcb_render_color_t renderColor(const Color& color, bool premultiplied) {
  Color c = color.toDeviceRGB().value_or(color);
  double a = std::clamp(c.alpha, 0.0, 1.0);
  double k = premultiplied ? a : 1.0;
  return xcb_render_color_t{channel16(c.red * k), channel16(c.green * k), channel16(c.blue * k),
                            channel16(a)};
}

ServerResource solidPicture(xcb_connection_t* c, const Color& color) {
  xcb_render_picture_t picture = xcb_generate_id(c);
  xcb_render_create_solid_fill(c, picture, renderColor(color));
  return ownedPicture(c, picture);
}

ScratchPicture uploadBitmap(xcb_connection_t* c, xcb_drawable_t anyDrawable,
                            const PictFormats& formats, const Bitmap& image) {
  ScratchPicture s =
      makeScratchPicture(c, anyDrawable, image.width, image.height, 32, formats.argb32);
  uint32_t repeat = XCB_RENDER_REPEAT_NORMAL;
  xcb_render_change_picture(c, s.id(), XCB_RENDER_CP_REPEAT, &repeat);
  if (image.width <= 0 || image.height <= 0 ||
      image.rgba.size() < static_cast<size_t>(image.width) * image.height * 4) {
    return s;
  }

  xcb_gcontext_t gc = xcb_generate_id(c);
  xcb_create_gc(c, gc, s.pixmap.id(), 0, nullptr);
  const size_t rowBytes = static_cast<size_t>(image.width) * 4;
  // Request size limit in bytes, less room for the request header.
  const size_t maxBytes = static_cast<size_t>(xcb_get_maximum_request_length(c)) * 4 - 64;
  const int rowsPerStrip = static_cast<int>(std::max<size_t>(1, maxBytes / rowBytes));
  std::vector<uint8_t> strip;
  for (int y0 = 0; y0 < image.height; y0 += rowsPerStrip) {
    int rows = std::min(rowsPerStrip, image.height - y0);
    strip.resize(rowBytes * rows);
    for (int y = 0; y < rows; ++y) {
      const uint8_t* src = image.pixel(0, y0 + y);
      uint8_t* dst = strip.data() + rowBytes * y;
      for (int x = 0; x < image.width; ++x, src += 4, dst += 4) {
        // a8r8g8b8 in the server's (little-endian) byte order: B, G, R, A; premultiplied.
        unsigned a = src[3];
        dst[0] = static_cast<uint8_t>((src[2] * a + 127) / 255);
        dst[1] = static_cast<uint8_t>((src[1] * a + 127) / 255);
        dst[2] = static_cast<uint8_t>((src[0] * a + 127) / 255);
        dst[3] = static_cast<uint8_t>(a);
      }
    }
    xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, s.pixmap.id(), gc,
                  static_cast<uint16_t>(image.width), static_cast<uint16_t>(rows), 0,
                  static_cast<int16_t>(y0), 0, 32, static_cast<uint32_t>(strip.size()),
                  strip.data());
  }
  xcb_free_gc(c, gc);
  return s;
}

void setTransform(xcb_connection_t* c, xcb_render_picture_t picture,
                  const xcb_render_transform_t& transform, const char* filter) {
  xcb_render_set_picture_transform(c, picture, transform);
  xcb_render_set_picture_filter(c, picture, static_cast<uint16_t>(std::strlen(filter)), filter, 0,
                                nullptr);
}

void composite(xcb_connection_t* c, uint8_t op, xcb_render_picture_t src, xcb_render_picture_t mask,
               xcb_render_picture_t dst, const Box& b, int dx, int dy) {
  if (b.isEmpty()) return;
  xcb_render_composite(c, op, src, mask, dst, static_cast<int16_t>(b.x0),
                       static_cast<int16_t>(b.y0), static_cast<int16_t>(b.x0),
                       static_cast<int16_t>(b.y0), static_cast<int16_t>(b.x0 + dx),
                       static_cast<int16_t>(b.y0 + dy), static_cast<uint16_t>(b.width()),
                       static_cast<uint16_t>(b.height()));
}

}  // namespace dunelo::x11
