#include "shell/display.h"

#include "shell/panels.h"

namespace pelmark {

PanelIndex g_panels;

namespace {
Display* g_display = nullptr;
}

void SetDisplay(Display* display) { g_display = display; }
Display* CurrentDisplay() { return g_display; }
FrontEnd ShowingFrontEnd() { return g_display ? g_display->Showing() : FrontEnd::Main; }

}  // namespace pelmark
