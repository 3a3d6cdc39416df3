// Qt widgets behind the engine's progress bar and status bar, and the toolkit
// colours and font heights the windows are described in.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QVector>

#include <initializer_list>

#include "shell/display.h"

class QLabel;
class QProgressBar;
class QStatusBar;
class QWidget;

namespace pelmark {

// A toolkit colour as a QColor; clBtnFace is the palette's window colour.
QColor ToQColor(Colour colour);

// Background and text colour of a label; `opaque` fills its background.
void SetLabelColours(QLabel* label, const QColor& background, const QColor& text, bool opaque = true);

// Font height as the layouts give it: negative is the character (em) height
// in pixels, positive the cell height (ascent plus descent) in pixels.
void SetToolkitHeight(QFont& font, int height);
QFont ToolkitFont(const QString& family, int height, bool bold = false, bool italic = false);

// The engine's text (8-bit, Latin-1 where it is not ASCII) as a QString.
QString EngineText(const char* text);

// Font families of the layouts and the installed families that stand in for
// them where they are missing. Call once before the first window is built.
void InstallFontSubstitutes();

// Point sizes of fonts set in the Designer files are meant at 96 dpi: pin them
// to pixel sizes so that texts fit their fixed-size controls on any screen.
void PinFontsToPixels(QWidget* root);

// The engine's progress bar over a QProgressBar: the toolkit's position
// rules (kept inside minimum and maximum), smooth or stepped look, and the
// normal (green), paused (yellow) and error (red) states.
class QtProgressBar final : public ProgressBar {
public:
    explicit QtProgressBar(QProgressBar* bar = nullptr);
    void Attach(QProgressBar* bar);

    void SetMin(int value) override;
    void SetMax(int value) override;
    void SetPosition(int value) override;
    int Position() const override;
    int Max() const override;
    void SetSmooth(bool smooth) override;
    void SetState(ProgressState state) override;

    int Min() const { return min_; }
    bool Smooth() const { return smooth_; }
    ProgressState State() const { return state_; }
    QProgressBar* Widget() const { return bar_; }

    // The chunk colour of a state.
    static QColor StateColour(ProgressState state);

private:
    void ApplyRange();
    void ApplyLook();

    QProgressBar* bar_ = nullptr;
    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
    bool smooth_ = false;
    ProgressState state_ = ProgressState::Normal;
};

// The engine's status bar over a QStatusBar: one sunken, fixed-width label
// per panel, left to right, in the layouts' window font (MS Sans Serif of
// 11 pixels, 8 points on the design's 96-dpi screen) whatever the style or
// the desktop's own font: the fixed panel widths were made for it.
class QtStatusBar final : public StatusBar {
public:
    QtStatusBar() = default;
    QtStatusBar(QStatusBar* bar, std::initializer_list<int> widths);
    void Attach(QStatusBar* bar, std::initializer_list<int> widths);

    void SetPanelText(int panel, const char* text) override;
    void Repaint() override;

    int PanelCount() const { return static_cast<int>(panels_.size()); }
    QString PanelText(int panel) const;
    QLabel* Panel(int panel) const;
    QStatusBar* Widget() const { return bar_; }

private:
    QStatusBar* bar_ = nullptr;
    QVector<QLabel*> panels_;
};

}  // namespace pelmark
