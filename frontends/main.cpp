// Pelmark Updater, the desktop program.
#include "frontends/gui_startup.h"

int main(int argc, char** argv) { return pelmark::RunDesktopProgram(argc, argv); }
