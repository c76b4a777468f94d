#pragma once
// The popovers' value tiles are lower than the main window's: a smaller value
// and tighter margins keep the three lines inside 72 points.
class KLTempView;

namespace KLCompactTile {

constexpr int kHeight = 72;
void apply(KLTempView* tile);

}  // namespace KLCompactTile
