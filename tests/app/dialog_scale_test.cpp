// Tests of the dialogs at device pixel ratios 1, 1.5 and 2: the same size in logical pixels, and
// text whose ink grows with the ratio as a faithful rendering's does, and crisp.
#include "dialog_template.h"
#include "dialogs.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace {

using namespace app;

// How a label's text came out in device pixels. Ink is how much darker than the background a
// pixel is, from 0 to 1; the extent is that of the pixels at least half dark.
struct TextInk {
  double mass = 0;       // the sum of every pixel's ink
  double solid = 0;      // the share of the mass in pixels at least three quarters dark
  int width = 0;         // columns between the first and the last with ink
  int height = 0;        // rows between the first and the last with ink
  bool scalable = false; // whether that face is an outline that scales
  std::string family;    // the face the label's text is set in
};

// What one dialog looked like at one ratio.
struct Rendering {
  double ratio = 0; // the window's device pixel ratio
  int logicalWidth = 0;
  int logicalHeight = 0;
  std::vector<TextInk> labels; // in template order
};

double Luminance(QRgb pixel) { return 0.299 * qRed(pixel) + 0.587 * qGreen(pixel) + 0.114 * qBlue(pixel); }

TextInk MeasureInk(const QImage& image, const QLabel& label, double ratio) {
  // Inside the label's frame, a device pixel clear of it, so only text is counted.
  const QRect inside = label.contentsRect().translated(label.pos());
  const QRect area(static_cast<int>(std::ceil(inside.x() * ratio)) + 1,
                   static_cast<int>(std::ceil(inside.y() * ratio)) + 1,
                   static_cast<int>(std::floor(inside.width() * ratio)) - 2,
                   static_cast<int>(std::floor(inside.height() * ratio)) - 2);
  const double background = Luminance(label.palette().color(QPalette::Window).rgb());
  TextInk ink;
  ink.family = QFontInfo(label.font()).family().toStdString();
  ink.scalable = QFontDatabase::isScalable(QFontInfo(label.font()).family());
  int left = area.right(), right = area.left() - 1, top = area.bottom(), bottom = area.top() - 1;
  double solidMass = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      const double darkness = std::max(0.0, background - Luminance(image.pixel(x, y))) / background;
      ink.mass += darkness;
      if (darkness >= 0.75) solidMass += darkness;
      if (darkness >= 0.5) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
    }
  }
  ink.solid = ink.mass > 0 ? solidMass / ink.mass : 0;
  ink.width = right - left + 1;
  ink.height = bottom - top + 1;
  return ink;
}

// Where a dialog is rendered: its platform (with the screens it offers), the toolkit's scale
// factor, and whether the window is moved to the last screen once it is up.
struct Screens {
  const char* name;
  std::string platform;
  const char* scaleFactor;
  double ratio;
  bool moved = false;
};

// Renders the dialog in a child process (a process takes its scale factor once, when the toolkit
// comes up), and reads back what it measured there.
Rendering RenderOn(int templateId, const Screens& screens) {
  const std::string results = testing::TempDir() + "dialog_scale_" + std::to_string(templateId);
  EXPECT_EXIT(
      {
        setenv("QT_QPA_PLATFORM", screens.platform.c_str(), 1);
        setenv("QT_SCALE_FACTOR", screens.scaleFactor, 1);
        if (StartDialogToolkit() != DialogToolkit::Available) std::exit(2);
        CDialog dialog(templateId, nullptr);
        std::ofstream out(results);
        QTimer::singleShot(0, [&] {
          QDialog* window = dialog.Window();
          if (screens.moved) {
            window->windowHandle()->setScreen(QGuiApplication::screens().last());
            QCoreApplication::processEvents();
          }
          const double ratio = window->devicePixelRatioF();
          const QImage image = window->grab().toImage();
          out << ratio << ' ' << window->width() << ' ' << window->height() << '\n';
          for (const QLabel* label : window->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
            const TextInk ink = MeasureInk(image, *label, ratio);
            out << ink.mass << ' ' << ink.solid << ' ' << ink.width << ' ' << ink.height << ' ' << ink.scalable << ' '
                << ink.family << '\n';
          }
          window->done(IDOK);
        });
        const int result = dialog.DoModal();
        out.close();
        delete QCoreApplication::instance();
        std::exit(result == IDOK ? 0 : 3);
      },
      testing::ExitedWithCode(0), "");
  Rendering rendering;
  std::ifstream in(results);
  in >> rendering.ratio >> rendering.logicalWidth >> rendering.logicalHeight;
  for (TextInk ink; in >> ink.mass >> ink.solid >> ink.width >> ink.height >> ink.scalable &&
                    std::getline(in >> std::ws, ink.family);) {
    rendering.labels.push_back(ink);
  }
  return rendering;
}

// A faithful rendering at ratio r draws what ratio 1 draws, r times as wide and as high: r times
// the extent and r² times the ink. Bitmap strikes drawn at their own size would keep the height
// and the ink of ratio 1, only spread out. Outline faces differ a little from the bitmap face in
// weight and height, which the tolerances allow; crisp text has most of its ink in solid pixels.
TEST(DialogScaleDeathTest, TextInkGrowsWithTheDevicePixelRatioAsAtRatioOne) {
  const std::string screensFile = testing::TempDir() + "dialog_scale_screens.json";
  std::ofstream(screensFile)
      << R"({"screens": [{"name": "one", "x": 0, "y": 0, "width": 800, "height": 600, "dpr": 1},)"
      << R"( {"name": "two", "x": 800, "y": 0, "width": 800, "height": 600, "dpr": 2}]})";
  const Screens ratioOne{"ratio 1", "offscreen", "1", 1};
  const Screens scaled[] = {
      {"ratio 1.5", "offscreen", "1.5", 1.5},
      {"ratio 2", "offscreen", "2", 2},
      {"moved from a screen of ratio 1 to one of ratio 2", "offscreen:configfile=" + screensFile, "1", 2, true},
  };
  const bool classicFace = std::filesystem::exists(ClassicDialogFontFile);
  for (const int templateId : {IDD_SETTINGS, IDD_ABOUT}) {
    const Rendering one = RenderOn(templateId, ratioOne);
    ASSERT_FALSE(one.labels.empty());
    if (classicFace) {
      for (const TextInk& ink : one.labels) EXPECT_EQ(ink.family, "MS Sans Serif") << "the bitmap strike at ratio 1";
    }
    for (const Screens& screens : scaled) {
      SCOPED_TRACE(std::string("template ") + std::to_string(templateId) + ", " + screens.name);
      const Rendering rendering = RenderOn(templateId, screens);
      const double r = screens.ratio;
      EXPECT_EQ(rendering.ratio, r);
      EXPECT_EQ(rendering.logicalWidth, one.logicalWidth);
      EXPECT_EQ(rendering.logicalHeight, one.logicalHeight);
      ASSERT_EQ(rendering.labels.size(), one.labels.size());
      for (std::size_t i = 0; i < one.labels.size(); ++i) {
        SCOPED_TRACE("label " + std::to_string(i));
        const TextInk& base = one.labels[i];
        const TextInk& ink = rendering.labels[i];
        EXPECT_TRUE(ink.scalable) << ink.family;
        EXPECT_NEAR(ink.mass / base.mass, r * r, 0.25 * r * r);
        EXPECT_NEAR(static_cast<double>(ink.width) / base.width, r, 0.2 * r);
        EXPECT_NEAR(static_cast<double>(ink.height) / base.height, r, 0.2 * r);
        EXPECT_GE(ink.solid, 0.5);
      }
    }
  }
}

} // namespace
