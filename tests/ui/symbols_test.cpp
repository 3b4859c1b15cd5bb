// The drawings the panel and the tray show, rendered as the views render them.
#include <gtest/gtest.h>

#include <QFile>
#include <QIcon>
#include <QImage>
#include <QTemporaryDir>
#include <QUrl>
#include <cmath>

#include "ui/image_providers.h"
#include "ui/tray_panel.h"
#include "ui_test_support.h"

namespace dunelo {
namespace {

double alphaAt(const QImage& image, double x, double y) {
  return image.pixelColor(int(x), int(y)).alphaF();
}

TEST(Symbols, TheOffSymbolShowsSixClearDashesAtEveryTraySize) {
  for (int px : {16, 22, 24}) {
    SCOPED_TRACE(px);
    const QImage image = renderSymbol("circle-dashed", Qt::white, QSize(px, px));
    ASSERT_FALSE(image.isNull());
    // Around the ring's middle: every dash nearly opaque, every gap nearly clear.
    const double r = 7.95 * px / 24, c = px / 2.0;
    std::vector<double> ring;
    for (int i = 0; i < 720; ++i) {
      const double a = i * M_PI / 360;
      ring.push_back(alphaAt(image, c + r * std::cos(a), c + r * std::sin(a)));
    }
    EXPECT_EQ(test::runsAbove(ring, 0.8), 6) << "dashes";
    EXPECT_EQ(test::runsBelow(ring, 0.2), 6) << "gaps";
  }
}

TEST(Symbols, ThePlusIsCutOutOfTheBadgeWhateverItsColour) {
  for (int px : {12, 24, 48}) {
    SCOPED_TRACE(px);
    const QImage badge = renderSymbol("app-badge-plus", QColor(235, 235, 245), QSize(px, px));
    const double s = px / 24.0;
    EXPECT_LT(alphaAt(badge, 17 * s, 7 * s), 0.2) << "the plus shows what is behind";
    EXPECT_LT(alphaAt(badge, 17 * s, 4 * s), 0.2) << "its upper arm";
    EXPECT_GT(alphaAt(badge, 19.5 * s, 4.5 * s), 0.8) << "the badge between its arms";
  }
}

TEST(Symbols, ApplicationIconsAreClippedToARoundedRectangle) {
  QTemporaryDir dir;
  const QString path = dir.filePath("square.png");
  QImage square(64, 64, QImage::Format_ARGB32);
  square.fill(Qt::red);
  ASSERT_TRUE(square.save(path));
  AppIconImageProvider provider;
  const QString id = QString::fromLatin1(QUrl::toPercentEncoding(path));
  for (const auto& [query, cornerClear] : {std::pair{"?radius=0.25", true}, {"", false}}) {
    QSize size;
    const QImage icon = provider.requestPixmap(id + query, &size, QSize(32, 32)).toImage();
    ASSERT_EQ(size, QSize(32, 32));
    EXPECT_EQ(icon.pixelColor(0, 0).alpha() == 0, cornerClear) << query;
    EXPECT_EQ(icon.pixelColor(31, 31).alpha() == 0, cornerClear) << query;
    EXPECT_EQ(icon.pixelColor(16, 16), QColor(Qt::red)) << query;
    EXPECT_EQ(icon.pixelColor(16, 0), QColor(Qt::red)) << "edges are kept " << query;
  }
}

TEST(TrayIcon, IsTheInstalledSymbolicThemeIconForStatusNotifierHostsAndPixelsForXEmbed) {
  for (const auto& [symbol, theme] :
       {std::pair{"circle-fill", "io.dunelo.Dunelo-on-symbolic"},
        std::pair{"circle-dashed", "io.dunelo.Dunelo-off-symbolic"}}) {
    const QIcon symbolic = trayIcon(symbol, Qt::red, true);
    EXPECT_EQ(symbolic.name(), theme);
    EXPECT_TRUE(QFile::exists(QStringLiteral(DUNELO_SOURCE_DIR "/data/icons/") + theme + ".svg"))
        << "installed under that name";
    const QImage pixels = symbolic.pixmap(22).toImage();
    // On the ring, right of the centre: inside a dash (and the disc).
    EXPECT_EQ(pixels.pixelColor(17, 11), QColor(Qt::red)) << "pixels for hosts without the theme";
    EXPECT_TRUE(trayIcon(symbol, Qt::red, false).name().isEmpty());
    EXPECT_EQ(trayIcon(symbol, Qt::red, false).availableSizes().size(), 6);
  }
}

TEST(TrayIconColor, LightOnDarkPanelsDarkOnLightOnesJudgedByTheCorners) {
  const std::pair<QColor, bool> cases[] = {
      {Qt::black, true},  {QColor(0x20, 0x20, 0x20), true},  {QColor(0x35, 0x61, 0x8f), true},
      {Qt::white, false}, {QColor(0xe0, 0xe0, 0xe0), false}, {QColor(0x80, 0x80, 0x80), false}};
  for (const auto& [panel, light] : cases) {
    // The icon's square: the panel in the corners, a symbol in another colour in the middle.
    QImage behind(22, 22, QImage::Format_RGB32);
    behind.fill(panel);
    for (int x = 6; x < 16; ++x)
      for (int y = 6; y < 16; ++y) behind.setPixelColor(x, y, light ? Qt::black : Qt::white);
    const auto background = backgroundAround(behind);
    ASSERT_TRUE(background);
    EXPECT_EQ(*background, panel);
    EXPECT_EQ(iconColorFor(*background).lightness() > 128, light) << panel.name().toStdString();
  }
  EXPECT_FALSE(backgroundAround(QImage()));
}

}  // namespace
}  // namespace dunelo
