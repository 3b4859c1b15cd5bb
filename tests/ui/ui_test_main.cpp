// Runs the UI tests inside one QApplication on the offscreen platform with the software scene
// graph, as the program itself renders.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/tray_panel.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
  testing::InitGoogleTest(&argc, argv);
  dunelo::useSoftwareRendering();
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
