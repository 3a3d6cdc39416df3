// COM names read under the three rules their readers need: --port, the
// Windows device names and the port-map entries.
#include "serial/com_name.h"

#include <gtest/gtest.h>

namespace pelmark::serial {
namespace {

TEST(ComNameRule, EachReaderTakesItsOwnNames) {
    struct Case {
        const char* text;
        int port;     // kPortNameRule
        int windows;  // kWindowsNameRule
        int map;      // kMapEntryRule
    };
    const Case cases[] = {
        {"COM7", 7, 7, 7},
        {"cOm7", 7, 7, 7},
        {"COM257", 257, 257, 257},
        {"COM258", 0, 0, 258},
        {"COM07", 7, 7, 0},            // a leading zero: no port-map entry
        {"COM0007", 7, 0, 0},          // four digits only on the command line
        {"COM0", 0, 0, 0},
        {"COM000", 0, 0, 0},
        {"com999999999", 0, 0, 999999999},
        {"com2147483647", 0, 0, 0},    // more than nine digits
        {"COM", 0, 0, 0},
        {"COM7x", 0, 0, 0},
        {"COM-7", 0, 0, 0},
        {"COM+7", 0, 0, 0},
        {" COM7", 0, 0, 0},
        {"CON7", 0, 0, 0},
        {"LPT1", 0, 0, 0},
        {"", 0, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ComNumberOf(c.text, kPortNameRule), c.port) << '"' << c.text << '"';
        EXPECT_EQ(ComNumberOf(c.text, kWindowsNameRule), c.windows) << '"' << c.text << '"';
        EXPECT_EQ(ComNumberOf(c.text, kMapEntryRule), c.map) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace pelmark::serial
