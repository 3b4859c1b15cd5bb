// Images the QML views load by URL: our own symbol drawings, tinted on request, and application
// icons from the icon theme.
//
//   image://symbol/<name>?color=<#rrggbb or #aarrggbb>   a drawing from the icons directory
//   image://appicon/<percent-encoded icon name or absolute path>[?radius=<fraction of the side>]
//                                                       the icon, clipped to a rounded rectangle
#pragma once

#include <QImage>
#include <QQuickImageProvider>
#include <QString>
#include <cstdint>
#include <set>

namespace dunelo {

// Renders the symbol `name` (a file of the icons directory without ".svg") at `size` pixels in
// `color`; a null image for an unknown name.
QImage renderSymbol(const QString& name, const QColor& color, QSize size);

class SymbolImageProvider final : public QQuickImageProvider {
 public:
  SymbolImageProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}
  QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};

class AppIconImageProvider final : public QQuickImageProvider {
 public:
  // Icon files larger than this are not shown (the largest theme icons are a few hundred kB).
  static constexpr uint64_t kMaxIconBytes = 4 * 1024 * 1024;

  AppIconImageProvider() : QQuickImageProvider(QQuickImageProvider::Pixmap) {}
  QPixmap requestPixmap(const QString& id, QSize* size, const QSize& requestedSize) override;

  // The icon file at `path`, fitted into `want`; a null image when it cannot be used.
  QImage iconFile(const QString& path, QSize want);

 private:
  std::set<QString> reported_;  // unusable files already logged
};

}  // namespace dunelo
