#include "shell/build_info.h"

#include <cstring>

#include "build_tag.h"  // generated: PELMARK_HAS_TAG, PELMARK_TAG_TEXT
#include "shell/texts.h"

namespace pelmark {

namespace {
constexpr const char* kFallbackTag = "LUX15.4 00.04";

bool Contains(const char* tag, const char* code) { return tag != nullptr && std::strstr(tag, code) != nullptr; }
}  // namespace

const char* BuildTag() { return PELMARK_HAS_TAG ? PELMARK_TAG_TEXT : nullptr; }

const char* DisplayTag() {
    const char* tag = BuildTag();
    return tag ? tag : kFallbackTag;
}

// GCC takes __DATE__ and __TIME__ from SOURCE_DATE_EPOCH when it is set, so a
// build can be reproduced byte for byte.
const char* BuildDate() { return __DATE__; }
const char* BuildTime() { return __TIME__; }

std::string MainTitle() {
    return std::string(text::kMainTitle) + " - " + DisplayTag() + "   [ " + BuildDate() + " ]";
}

FrontEndChoice ChooseFrontEnd(const char* tag) {
    if (tag == nullptr) return FrontEndChoice::Main;
    static const char* const kUpgradeCodes[] = {"KLM", "DWR", "HBQ", "ERASE", "VRN", "TQ0", "NEB"};
    static const char* const kLoaderCodes[] = {"PX", "DLM", "GNV", "MORIC", "MORIL", "J.", "H.", "HJ."};
    for (const char* code : kUpgradeCodes)
        if (Contains(tag, code)) return FrontEndChoice::Upgrade;
    if (!Contains(tag, "PX500"))
        for (const char* code : kLoaderCodes)
            if (Contains(tag, code)) return FrontEndChoice::Loader;
    return FrontEndChoice::Main;
}

bool TagHidesPicture(const char* tag) { return Contains(tag, "PX500") || Contains(tag, "ZOT"); }

bool TagHasImageSeries(const char* tag) { return Contains(tag, "YKP"); }

bool TagUsesAlternateSearch(const char* tag) { return Contains(tag, "DLM") || Contains(tag, "GNV"); }

}  // namespace pelmark
