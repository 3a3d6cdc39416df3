#include "frontends/window_setup.h"

#include <QCloseEvent>
#include <QIcon>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QWidget>

#include "frontends/gui_display.h"
#include "frontends/gui_session.h"
#include "frontend_logic/front_ends.h"
#include "shell/settings.h"

// The artwork is compiled into this static library; its resources must be
// registered by name before the first use.
static void InitAssets() { Q_INIT_RESOURCE(assets); }

namespace pelmark {

void FixClientArea(QMainWindow* window, int width, int height) {
    int menu = 0;
    if (QMenuBar* bar = window->menuBar()) {
        bar->setFixedWidth(width);
        menu = bar->sizeHint().height();
    }
    window->setFixedSize(width, height + menu);
}

void SetTitleButtons(QWidget* window, bool maximise) {
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    if (maximise) flags |= Qt::WindowMaximizeButtonHint;
    window->setWindowFlags(flags);
}

QPixmap LogoPixmap() {
    static const bool registered = (InitAssets(), true);
    (void)registered;
    return QPixmap(QStringLiteral(":/pelmark/logo.png"));
}

QIcon AppIcon() {
    static const bool registered = (InitAssets(), true);
    (void)registered;
    return QIcon(QStringLiteral(":/pelmark/icon.png"));
}

void FrontEndClose::OnClose(QCloseEvent* event) {
    std::string portSetting;
    if (!CloseFrontEnd(UpdateBusy(), portSetting)) {
        pending_ = true;
        event->ignore();
        return;
    }
    WriteSetting("com", portSetting, selector_);
    event->accept();
}

void FrontEndClose::AfterUpdate(QWidget* window, QtStatusBar* status) {
    ApplyPortForNextUpdate(status);
    if (pending_) {
        pending_ = false;
        window->close();
    }
}

}  // namespace pelmark
