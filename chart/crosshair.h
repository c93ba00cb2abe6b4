#pragma once

#include <QColor>

#include <cstdint>

namespace tamlo::chart {

// The pen colour of the cross-hair drawn with an XOR pen over a chart: the back colour taken as
// a Windows colour value (0x00BBGGRR, red in the low byte) XOR the mask 255. Only red is
// inverted, so on black the lines are pure red (255, 0, 0) and on the default light grey
// (240, 240, 240) they are (15, 240, 240). Every program draws its cross-hair in this colour.
inline QColor crossHairColor(const QColor& back) {
    const std::uint32_t windows = static_cast<std::uint32_t>(back.red()) |
                                  static_cast<std::uint32_t>(back.green()) << 8 |
                                  static_cast<std::uint32_t>(back.blue()) << 16;
    const std::uint32_t pen = windows ^ 255u;
    return QColor(static_cast<int>(pen & 0xFF), static_cast<int>(pen >> 8 & 0xFF),
                  static_cast<int>(pen >> 16 & 0xFF));
}

}  // namespace tamlo::chart
