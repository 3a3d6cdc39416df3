#include "frontends/window_setup.h"

#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>

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

QPixmap LogoPixmap() { return QPixmap(QStringLiteral(":/pelmark/logo.png")); }

}  // namespace pelmark
