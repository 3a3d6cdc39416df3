// One reference per window of the desktop program, empty until the window is
// created. The display operations and the windows decide which front end is
// showing by testing them in the order Loader window, Upgrade window, main
// updater window.
#pragma once

namespace pelmark {

class TForm1;  // main updater window
class TForm3;  // port dialog
class TForm4;  // version window
class TForm5;  // Upgrade window
class TForm6;  // Loader window

extern TForm1* Form1;
extern TForm3* Form3;
extern TForm4* Form4;
extern TForm5* Form5;
extern TForm6* Form6;

// Set as the last step of the main updater window's creation; until then an
// outcome only touches that window's outcome label.
extern bool g_mainWindowReady;

// The application title (the taskbar text of the leading window); also the
// caption of the standard error box.
void SetApplicationTitle(const char* title);
const char* ApplicationTitle();

}  // namespace pelmark
