// Status-bar panel positions shared by every front end's status bar.
#pragma once

namespace pelmark {

struct PanelIndex {
    int port = 0;
    int message = 1;
    int device = 2;  // the Upgrade window moves it to 3 when it is created
    int info = 3;
};

extern PanelIndex g_panels;

}  // namespace pelmark
