// Small pieces the windows share: fixed client areas, title-bar buttons, the
// pictures, and the end of a click handler that ran the engine.
#pragma once

#include <QIcon>
#include <QPixmap>

class QMainWindow;
class QWidget;

namespace pelmark {

// A window that cannot be resized, whose client area (below the menu bar,
// status bar included) is width x height pixels.
void FixClientArea(QMainWindow* window, int width, int height);

// Title-bar buttons: system menu (with close) and minimise, optionally
// maximise (greyed, as the window has a fixed size).
void SetTitleButtons(QWidget* window, bool maximise);

// The project logo the windows show in their picture.
QPixmap LogoPixmap();
// The program icon.
QIcon AppIcon();

}  // namespace pelmark
