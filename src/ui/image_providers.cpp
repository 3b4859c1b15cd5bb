#include "ui/image_providers.h"

#include <QBuffer>
#include <QFile>
#include <QIcon>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>

#include "core/debug_log.h"
#include "core/regular_file.h"

namespace dunelo {

QImage renderSymbol(const QString& name, const QColor& color, QSize size) {
  if (name.contains(u'/') || name.contains(u'.')) return {};
  QFile file(QStringLiteral(":/dunelo/icons/") + name + QStringLiteral(".svg"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  QByteArray svg = file.readAll();
  svg.replace("currentColor", color.name(QColor::HexRgb).toLatin1());
  if (color.alphaF() < 1.0) {
    // Opacity goes on the whole drawing so that overlapping strokes do not darken.
    svg.replace("<svg ",
                QByteArray("<svg opacity=\"") + QByteArray::number(color.alphaF()) + "\" ");
  }
  QSvgRenderer renderer(svg);
  if (!renderer.isValid()) return {};
  if (!size.isValid() || size.isEmpty()) size = QSize(24, 24);
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
  }
  // A copy without the raster engine that painting attached to the image: the views cache what
  // they are given for the life of the process, and the engine is large.
  return image.copy();
}

QImage SymbolImageProvider::requestImage(const QString& id, QSize* size,
                                         const QSize& requestedSize) {
  const qsizetype q = id.indexOf(u'?');
  const QString name = q < 0 ? id : id.left(q);
  QColor color(Qt::black);
  if (q >= 0) {
    const QUrlQuery query(id.mid(q + 1));
    const QColor requested(query.queryItemValue(QStringLiteral("color"), QUrl::FullyDecoded));
    if (requested.isValid()) color = requested;
  }
  QImage image = renderSymbol(name, color, requestedSize);
  if (size) *size = image.size();
  return image;
}

namespace {

// The icon clipped to a rounded rectangle whose radius is `fraction` of its side.
QPixmap rounded(const QPixmap& icon, double fraction) {
  if (icon.isNull() || fraction <= 0) return icon;
  QPixmap out(icon.size());
  out.setDevicePixelRatio(icon.devicePixelRatio());
  out.fill(Qt::transparent);
  QPainter painter(&out);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF area(QPointF(0, 0), icon.deviceIndependentSize());
  const double radius = std::min(fraction, 0.5) * std::min(area.width(), area.height());
  QPainterPath clip;
  clip.addRoundedRect(area, radius, radius);
  painter.setClipPath(clip);
  painter.drawPixmap(0, 0, icon);
  return out;
}

}  // namespace

QImage AppIconImageProvider::iconFile(const QString& path, QSize want) {
  // An entry's Icon= may name a FIFO, a device or a huge file; the panel must not hang on it.
  const RegularFileRead file = readRegularFile(path.toStdString(), kMaxIconBytes);
  if (!file.ok()) {
    if (reported_.insert(path).second)
      debugLog("[Apps] icon " + path.toStdString() + " " + file.problem() + "; not shown");
    return {};
  }
  QByteArray bytes = QByteArray::fromRawData(file.data.data(), qsizetype(file.data.size()));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  // Drawings are drawn at the size wanted; pictures are scaled down to it.
  if (reader.supportsOption(QImageIOHandler::ScaledSize) && reader.size().isValid())
    reader.setScaledSize(reader.size().scaled(want, Qt::KeepAspectRatio));
  QImage image = reader.read();
  if (image.width() > want.width() || image.height() > want.height())
    image = image.scaled(want, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  return image;
}

// `id` is the percent-encoded icon name, optionally followed by "?radius=<fraction of the side>".
QPixmap AppIconImageProvider::requestPixmap(const QString& id, QSize* size,
                                            const QSize& requestedSize) {
  const qsizetype q = id.indexOf(u'?');
  const double radius =
      q < 0 ? 0 : QUrlQuery(id.mid(q + 1)).queryItemValue(QStringLiteral("radius")).toDouble();
  const QString name = QUrl::fromPercentEncoding((q < 0 ? id : id.left(q)).toLatin1());
  const QSize want =
      requestedSize.isValid() && !requestedSize.isEmpty() ? requestedSize : QSize(32, 32);
  QPixmap pixmap;
  if (name.startsWith(u'/')) {
    pixmap = QPixmap::fromImage(iconFile(name, want));
  } else if (const QIcon icon = QIcon::fromTheme(name); !icon.isNull()) {
    pixmap = icon.pixmap(want);
  }
  pixmap = rounded(pixmap, radius);
  if (size) *size = pixmap.size();
  return pixmap;
}

}  // namespace dunelo
