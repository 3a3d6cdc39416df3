#include "frontends/gui_widgets.h"

#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QStatusBar>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace pelmark {

QColor ToQColor(Colour colour) {
    if (colour == clBtnFace) return QApplication::palette().color(QPalette::Window);
    // 0x00BBGGRR
    return QColor(static_cast<int>(colour & 0xFFu), static_cast<int>((colour >> 8) & 0xFFu),
                  static_cast<int>((colour >> 16) & 0xFFu));
}

void SetLabelColours(QLabel* label, const QColor& background, const QColor& text, bool opaque) {
    QPalette pal = label->palette();
    pal.setColor(QPalette::Window, background);
    pal.setColor(QPalette::WindowText, text);
    label->setPalette(pal);
    label->setAutoFillBackground(opaque);
}

void SetToolkitHeight(QFont& font, int height) {
    if (height < 0) {
        font.setPixelSize(-height);
        return;
    }
    if (height == 0) return;
    // Cell height: find the em size whose ascent plus descent is `height`.
    font.setPixelSize(height);
    const int cell = QFontMetrics(font).height();
    if (cell > 0 && cell != height) {
        const int em = std::max(1, static_cast<int>(std::lround(static_cast<double>(height) * height / cell)));
        font.setPixelSize(em);
        // One correction step for fonts whose metrics do not scale linearly.
        const int again = QFontMetrics(font).height();
        if (again > height && em > 1) font.setPixelSize(em - 1);
    }
}

QFont ToolkitFont(const QString& family, int height, bool bold, bool italic) {
    QFont font(family);
    font.setBold(bold);
    font.setItalic(italic);
    SetToolkitHeight(font, height);
    return font;
}

QString EngineText(const char* text) { return text ? QString::fromLatin1(text) : QString(); }

void InstallFontSubstitutes() {
    QFont::insertSubstitutions("MS Sans Serif", {"Liberation Sans", "Arial", "DejaVu Sans"});
    QFont::insertSubstitutions("Tahoma", {"Liberation Sans", "Arial", "DejaVu Sans"});
    QFont::insertSubstitutions("Times", {"Liberation Serif", "Times New Roman", "DejaVu Serif"});
    QFont::insertSubstitutions("Courier", {"Liberation Mono", "Courier New", "DejaVu Sans Mono"});
}

void PinFontsToPixels(QWidget* root) {
    auto pin = [](QWidget* w) {
        QFont f = w->font();
        if (f.pixelSize() > 0 || f.pointSizeF() <= 0) return;
        f.setPixelSize(std::max(1, static_cast<int>(std::lround(f.pointSizeF() * 96.0 / 72.0))));
        w->setFont(f);
    };
    pin(root);
    for (QWidget* child : root->findChildren<QWidget*>())
        if (child->testAttribute(Qt::WA_SetFont)) pin(child);
}

// ---- Progress bar -----------------------------------------------------------

QtProgressBar::QtProgressBar(QProgressBar* bar) { Attach(bar); }

void QtProgressBar::Attach(QProgressBar* bar) {
    bar_ = bar;
    if (bar_ == nullptr) return;
    min_ = bar_->minimum();
    max_ = bar_->maximum();
    position_ = std::clamp(bar_->value(), min_, std::max(min_, max_));
    bar_->setTextVisible(false);
    ApplyRange();
    ApplyLook();
}

QColor QtProgressBar::StateColour(ProgressState state) {
    switch (state) {
        case ProgressState::Paused:
            return QColor(0xD8, 0xB4, 0x00);
        case ProgressState::Error:
            return QColor(0xD0, 0x18, 0x18);
        case ProgressState::Normal:
            break;
    }
    return QColor(0x06, 0xB0, 0x25);
}

void QtProgressBar::SetMin(int value) {
    min_ = value;
    if (max_ < min_) max_ = min_;
    ApplyRange();
}

void QtProgressBar::SetMax(int value) {
    max_ = value;
    if (min_ > max_) min_ = max_;
    ApplyRange();
}

void QtProgressBar::SetPosition(int value) {
    position_ = std::clamp(value, min_, max_);
    if (bar_) bar_->setValue(position_);
}

int QtProgressBar::Position() const { return position_; }
int QtProgressBar::Max() const { return max_; }

void QtProgressBar::SetSmooth(bool smooth) {
    if (smooth_ == smooth) return;
    smooth_ = smooth;
    ApplyLook();
}

void QtProgressBar::SetState(ProgressState state) {
    if (state_ == state) return;
    state_ = state;
    ApplyLook();
}

void QtProgressBar::ApplyRange() {
    position_ = std::clamp(position_, min_, max_);
    if (bar_ == nullptr) return;
    bar_->setRange(min_, max_);
    bar_->setValue(position_);
}

void QtProgressBar::ApplyLook() {
    if (bar_ == nullptr) return;
    // A style sheet draws the same on every widget style, which the palette
    // alone does not: some styles ignore the highlight colour for the chunk.
    const QString chunk = StateColour(state_).name();
    QString sheet = QStringLiteral(
                        "QProgressBar { border: 1px solid #9a9a9a; background: #e6e6e6; }"
                        "QProgressBar::chunk { background-color: %1; %2 }")
                        .arg(chunk, smooth_ ? QString() : QStringLiteral("width: 8px; margin: 1px;"));
    bar_->setStyleSheet(sheet);
}

// ---- Status bar -------------------------------------------------------------

QtStatusBar::QtStatusBar(QStatusBar* bar, std::initializer_list<int> widths) { Attach(bar, widths); }

void QtStatusBar::Attach(QStatusBar* bar, std::initializer_list<int> widths) {
    bar_ = bar;
    panels_.clear();
    if (bar_ == nullptr) return;
    bar_->setSizeGripEnabled(false);
    bar_->setStyleSheet(QStringLiteral("QStatusBar::item { border: none; }"));
    // Set on every panel: a panel left to inherit the window's font may get
    // the application's instead once the style sheet polishes it.
    const QFont font = ToolkitFont(QStringLiteral("MS Sans Serif"), -11);
    for (int width : widths) {
        auto* label = new QLabel(bar_);
        label->setFont(font);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setFixedWidth(width);
        label->setIndent(2);
        label->setTextFormat(Qt::PlainText);
        // Permanent widgets: a temporary status message never hides them.
        bar_->addPermanentWidget(label);
        panels_.push_back(label);
    }
    // Permanent widgets sit at the right edge; a stretching filler after
    // them keeps the panels at the left, where the layouts have them.
    auto* filler = new QWidget(bar_);
    filler->setObjectName(QStringLiteral("panelFiller"));
    bar_->addPermanentWidget(filler, 1);
}

void QtStatusBar::SetPanelText(int panel, const char* text) {
    if (panel < 0 || panel >= panels_.size()) return;
    panels_[panel]->setText(EngineText(text));
}

void QtStatusBar::Repaint() {
    if (bar_ == nullptr) return;
    for (QLabel* label : panels_) label->repaint();
    bar_->repaint();
}

QString QtStatusBar::PanelText(int panel) const {
    if (panel < 0 || panel >= panels_.size()) return {};
    return panels_[panel]->text();
}

QLabel* QtStatusBar::Panel(int panel) const {
    if (panel < 0 || panel >= panels_.size()) return nullptr;
    return panels_[panel];
}

}  // namespace pelmark
