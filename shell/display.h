// The display seam: the only way the engine (device search, programming pass,
// port layer) reaches a front end. One implementation per kind of program: the
// desktop program's decides on every call which window is showing (Loader,
// else Upgrade, else main updater window); the console front end prints; the
// tests record.
#pragma once

#include <cstdint>

namespace pelmark {

// Toolkit colour values (32-bit, 0x00BBGGRR; clBtnFace is a system colour).
using Colour = std::uint32_t;
constexpr Colour clBlack = 0x000000;
constexpr Colour clRed = 0x0000FF;
constexpr Colour clGreen = 0x008000;
constexpr Colour clSilver = 0xC0C0C0;
constexpr Colour clWhite = 0xFFFFFF;
constexpr Colour clBtnFace = 0xFF00000F;

// Outcome codes handed on with every final outcome.
constexpr std::uint8_t kOutcomeFailure = 0;
constexpr std::uint8_t kOutcomeSuccess = 1;

enum class FrontEnd { Loader, Upgrade, Main };

enum class ProgressState { Normal, Error, Paused };

// A front end's progress bar, driven directly by the engine.
class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    virtual void SetMin(int value) = 0;
    virtual void SetMax(int value) = 0;
    virtual void SetPosition(int value) = 0;
    virtual int Position() const = 0;
    virtual int Max() const = 0;
    virtual void SetSmooth(bool smooth) = 0;
    virtual void SetState(ProgressState state) = 0;
};

// A front end's status bar: panel texts by index (see panels.h).
class StatusBar {
public:
    virtual ~StatusBar() = default;
    virtual void SetPanelText(int panel, const char* text) = 0;
    virtual void Repaint() = 0;  // immediate repaint where the engine asks for one
};

// The identity lines of the main updater window (Label3, Label4) and the
// hardware and bootloader value lines of the Loader window (Label6, Label7).
enum class IdentityField { IdentityLine, DeviceText, Hardware, Bootloader };

class Display {
public:
    virtual ~Display() = default;

    // Which front end is showing: Loader window if it exists, else Upgrade
    // window if it exists, else the main updater window.
    virtual FrontEnd Showing() const = 0;

    virtual void ShowOutcome(const char* text, Colour colour, std::uint8_t code) = 0;
    virtual void ShowStatus(const char* text, Colour colour) = 0;
    virtual void ShowBusy() = 0;
    virtual void ShowIdle() = 0;
    virtual void ShowImageKind(bool plain) = 0;

    // Hides the main updater window's outcome label (start of every search).
    virtual void HideOutcomeLabel() = 0;

    // The main updater window's status bar (it exists in every front end but
    // is seen only when it leads); nullptr where there is none.
    virtual StatusBar* MainStatusBar() = 0;

    // Main window fields: caption set, made visible, button-face background,
    // black text, repainted at once. Loader fields: caption set only.
    virtual void SetIdentityField(IdentityField field, const char* text) = 0;
    virtual void HideIdentityField(IdentityField field) = 0;

    // A modal message box with an OK button (serial configuration errors).
    virtual void MessageBox(const char* text, const char* caption) = 0;

    // Dispatch pending user-interface events (called once per 5 ms slice).
    virtual void PumpEvents() = 0;
};

// The display the engine reports to; nullptr means nothing is shown.
void SetDisplay(Display* display);
Display* CurrentDisplay();
// Which front end the current display shows; the main updater window when
// there is no display.
FrontEnd ShowingFrontEnd();

}  // namespace pelmark
