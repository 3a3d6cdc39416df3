// Pelmark Updater, the desktop program.
#include "shell/gui_startup.h"

int main(int argc, char** argv) { return pelmark::RunDesktopProgram(argc, argv); }
