#pragma once

// Classic 3-D edges and system colours for controls that draw themselves, with the values and
// results of the Windows calls they stand in for. The colours come from the application's
// palette, so the edges follow the desktop's theme.

#include <QColor>

#include <cstdint>

#include "skin/slider_geometry.h"

class QPainter;

namespace vornel::skin {

// System colour indices.
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_BTNHIGHLIGHT = 20;
constexpr int COLOR_3DDKSHADOW = 21;
constexpr int COLOR_3DLIGHT = 22;

// Edge kinds: one outer and one inner border.
constexpr unsigned BDR_RAISEDOUTER = 0x1;
constexpr unsigned BDR_SUNKENOUTER = 0x2;
constexpr unsigned BDR_RAISEDINNER = 0x4;
constexpr unsigned BDR_SUNKENINNER = 0x8;
constexpr unsigned EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER;
constexpr unsigned EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER;

// Sides to draw.
constexpr unsigned BF_LEFT = 0x1;
constexpr unsigned BF_TOP = 0x2;
constexpr unsigned BF_RIGHT = 0x4;
constexpr unsigned BF_BOTTOM = 0x8;
constexpr unsigned BF_RECT = BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM;

// The colour of a system colour index (an unknown index gives the window colour).
QColor SystemColour(int index);

// A stored colour: 0x00BBGGRR, or 0x80000000 plus a system colour index.
QColor ColourFromStored(std::uint32_t colour);

// Draws the outer border on the rectangle's edge and the inner border inside the outer one, each
// light on the top and left and dark on the bottom and right when raised, the other way round
// when sunken; the interior is left as it is. False when the painter cannot draw.
bool DrawEdge(QPainter& painter, const EdgeRect& rect, unsigned edge, unsigned flags);

}  // namespace vornel::skin
