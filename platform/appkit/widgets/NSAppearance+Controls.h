#pragma once
// The part of the appearance that a palette cannot set. Fusion draws the
// outline of a check box or radio button a shade darker than the window, which
// is lost on a dark window: on a dark palette (window lightness under half) the
// outline is drawn in the palette's Mid colour instead, which the dark palette
// makes 3:1 on its backgrounds. A light palette draws as the style does.
// Each windowed program installs it once, before its first window; it wraps
// the desktop's own style.

namespace NSAppearanceControls {

void install();

}  // namespace NSAppearanceControls
