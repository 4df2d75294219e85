#pragma once

class QWidget;

namespace quendelin {

// Puts a top-level window in the middle of the screen that it opens on. Called before the
// window is shown, so the window manager takes the place as given instead of picking one.
void centreOnScreen(QWidget& window);

} // namespace quendelin
