// Dialog units to pixels, and the font a dialog template asks for.
#include "dialog_template.h"

#include <cmath>

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

namespace app {
namespace {

// Installed faces that stand in, in order of preference, for a template face that is missing.
// Liberation Sans at 8 points measures 6 x 12 pixels per character at 96 dpi, the nearest of
// the common sans-serifs to the classic 6 x 13.
const char* const StandInFaces[] = {"Liberation Sans"};

// Rounds units * base / divisor to the nearest whole pixel, halves away from zero.
int ScaleDialogUnits(int units, int base, int divisor) {
  return static_cast<int>(std::lround(static_cast<double>(units) * base / divisor));
}

} // namespace

DialogBaseUnits MeasureDialogBaseUnits(const QFontMetrics& metrics) {
  const int alphabetWidth =
      metrics.horizontalAdvance(QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"));
  // The width of 52 letters divided by 52, rounded to the nearest pixel in whole numbers.
  return {(alphabetWidth / 26 + 1) / 2, metrics.height()};
}

QRect MapDialogRect(const DialogBaseUnits& units, const QRect& dialogUnits) {
  return {ScaleDialogUnits(dialogUnits.x(), units.averageCharWidth, 4),
          ScaleDialogUnits(dialogUnits.y(), units.charHeight, 8),
          ScaleDialogUnits(dialogUnits.width(), units.averageCharWidth, 4),
          ScaleDialogUnits(dialogUnits.height(), units.charHeight, 8)};
}

QFont DialogFont(const DialogTemplate& dialogTemplate, double devicePixelRatio) {
  // The toolkit takes the first installed family of the list, so the template's face wins
  // wherever it exists and can be drawn at this ratio; the style hint covers a machine that has
  // none of them.
  const QString face = QString::fromUtf8(dialogTemplate.fontFace);
  QStringList families;
  if (qFuzzyCompare(devicePixelRatio, 1.0) || QFontDatabase::isScalable(face)) families.append(face);
  for (const char* face : StandInFaces) families.append(QString::fromUtf8(face));
  QFont font;
  font.setFamilies(families);
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(dialogTemplate.fontPointSize);
  font.setWeight(dialogTemplate.fontWeight == 0 ? QFont::Normal
                                                : static_cast<QFont::Weight>(dialogTemplate.fontWeight));
  font.setItalic(dialogTemplate.fontItalic);
  return font;
}

} // namespace app
