// Small pieces the windows share: fixed client areas, title-bar buttons, the
// pictures, and the end of a click handler that ran the engine.
#pragma once

#include <QIcon>
#include <QPixmap>

#include "shell/settings.h"

class QCloseEvent;
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

class QtStatusBar;

// How a front end closes. While an update runs, a close only asks the engine
// to stop; the click handler closes the window once the engine has unwound,
// so nothing runs on a closed port. Closing releases the port and writes the
// port setting of the front end's settings selector.
class FrontEndClose {
public:
    explicit FrontEndClose(int selector) : selector_(selector) {}
    // From closeEvent: accepts the event and saves, or defers it.
    void OnClose(QCloseEvent* event);
    // At the end of a click handler that ran the engine.
    void AfterUpdate(QWidget* window, QtStatusBar* status);
    // A close waits for the running update to unwind.
    bool Pending() const { return pending_; }

private:
    int selector_;
    bool pending_ = false;
};

}  // namespace pelmark
