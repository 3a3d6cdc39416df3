#include "frontends/gui_forms.h"

#include <string>

namespace pelmark {

TForm1* Form1 = nullptr;
TForm3* Form3 = nullptr;
TForm4* Form4 = nullptr;
TForm5* Form5 = nullptr;
TForm6* Form6 = nullptr;
bool g_mainWindowReady = false;

namespace {
std::string g_applicationTitle;
}

void SetApplicationTitle(const char* title) { g_applicationTitle = title ? title : ""; }
const char* ApplicationTitle() { return g_applicationTitle.c_str(); }

}  // namespace pelmark
