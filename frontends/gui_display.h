// The desktop program's side of the display seam: every operation renders on
// whichever window is showing, tested in the order Loader window, Upgrade
// window, main updater window.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

#include "shell/display.h"

namespace pelmark {

class GuiDisplay final : public Display {
public:
    FrontEnd Showing() const override;

    void ShowOutcome(const char* text, Colour colour, std::uint8_t code) override;
    void ShowStatus(const char* text, Colour colour) override;
    void ShowBusy() override;
    void ShowIdle() override;
    void ShowImageKind(bool plain) override;
    void HideOutcomeLabel() override;
    StatusBar* MainStatusBar() override;
    void SetIdentityField(IdentityField field, const char* text) override;
    void HideIdentityField(IdentityField field) override;
    void MessageBox(const char* text, const char* caption) override;
    void PumpEvents() override;

    // Replaces the modal box (tests); an empty function restores it.
    using MessageBoxHandler = std::function<void(const QString& text, const QString& caption)>;
    void SetMessageBoxHandler(MessageBoxHandler handler) { messageBox_ = std::move(handler); }

private:
    MessageBoxHandler messageBox_;
};

// A port chosen in the port dialog during an update: the port panel of the
// showing window names it, with a note that the next update uses it.
void ShowPortForNextUpdate(std::int16_t portIndex);

class QtStatusBar;
// After an update: makes a port chosen meanwhile the selected one (and opens
// it), shows it in the port panel of `bar` and drops the note.
void ApplyPortForNextUpdate(QtStatusBar* bar);

}  // namespace pelmark
