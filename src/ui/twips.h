#pragma once
// Positions and sizes of the window are kept in twips, as the window was
// designed; the screen works in device-independent pixels, 15 twips each.
#include <QRect>
#include <cmath>

namespace qm {

constexpr int kTwipsPerPixel = 15;

// Twips to pixels, rounded to the nearest pixel.
inline int TwipsToPx(double twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }
inline double PxToTwips(double px) { return px * kTwipsPerPixel; }

// A rectangle in twips (left, top, width, height) to pixels, each value
// converted on its own.
inline QRect TwipRectToPx(const QRect& twips) {
  return QRect(TwipsToPx(twips.x()), TwipsToPx(twips.y()), TwipsToPx(twips.width()),
               TwipsToPx(twips.height()));
}

// Rounds to the nearest whole number, a half going to the even neighbour.
inline double RoundHalfEven(double value) { return std::nearbyint(value); }

}  // namespace qm
