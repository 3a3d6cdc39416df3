// The build tag, the build date and time, and the texts made from them.
#pragma once

#include <string>

namespace pelmark {

// The tag this build carries, or nullptr for a build without a tag.
const char* BuildTag();
// The tag, or the fallback "LUX15.4 00.04" for a build without one.
const char* DisplayTag();
// Compiler texts of the build: "May  6 2016" and "09:13:59".
const char* BuildDate();
const char* BuildTime();
// "Updater 2.7 - <tag>   [ <date> ]"
std::string MainTitle();

enum class FrontEndChoice { Main, Upgrade, Loader };

// Which front end a tag selects (nullptr: a build without a tag).
FrontEndChoice ChooseFrontEnd(const char* tag);

// What the tag changes in the chosen front end (nullptr: a build without a tag).
// "PX500" or "ZOT": the main updater window shows no picture.
bool TagHidesPicture(const char* tag);
// "YKP": the Upgrade window programs several images in one run, with a second
// progress bar over them.
bool TagHasImageSeries(const char* tag);
// "DLM" or "GNV": the Loader window searches the alternate way, shows no
// picture and marks its title "-(N)-".
bool TagUsesAlternateSearch(const char* tag);

}  // namespace pelmark
