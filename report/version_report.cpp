#include <cstdio>
#include <initializer_list>

#include "images/image_table.h"
#include "images/mask.h"
#include "report/board_names.h"

namespace pelmark {

namespace {

struct Codes {
    unsigned char board;
    unsigned char preparation;
};

// The image's own board and preparation codes, read from its first row the
// way the programming pass reads a masked image. An image too short to hold
// them reports board 0 (unknown).
Codes ReadCodes(const ImageTableEntry& e, int slot) {
    const int at = slot == 6 ? 1024 : 14;
    if (e.programLength <= at + 1) return {0, 0};
    return {static_cast<unsigned char>(e.program[at] ^ Mask(0)),
            static_cast<unsigned char>(e.program[at + 1] ^ Mask(0))};
}

struct Lister {
    std::vector<std::string>& lines;
    int n = 0;

    void List(int row, int slot, const char* chipName) {
        const ImageTableEntry& e = g_imageTable[row][slot];
        if (!HoldsImage(e)) return;
        const Codes c = ReadCodes(e, slot);
        lines.push_back(ReportLine(n, chipName, c.board, c.preparation));
        ++n;
    }

    // The generic image when there is one, else every board image.
    void ListSlot(int slot, const char* chipName, std::initializer_list<int> boardRows) {
        if (HoldsImage(g_imageTable[0][slot])) {
            List(0, slot, chipName);
            return;
        }
        for (int row : boardRows) List(row, slot, chipName);
    }
};

}  // namespace

std::string ReportLine(int lineNumber, const char* chipName, unsigned char board, unsigned char preparation) {
    const char* boardName;
    const char* connector;
    const char* interfaceName = "UNKNOWN";
    const char* resetMark = " ";
    const int b = static_cast<signed char>(board);
    if (b >= 1 && b < kBoardNameRows) {
        boardName = kBoardNames[b];
        connector = kConnectors[b];
        const int index = preparation & 0x6F;
        if (index >= 1 && index < kInterfaceRows) interfaceName = kInterfaces[index];
        if (preparation & 0x80) resetMark = "RES";
    } else if (static_cast<signed char>(lineNumber) < 6) {
        boardName = kBoardNames[2];
        connector = kConnectors[2];
    } else {
        boardName = kBoardNames[0];
        connector = kConnectors[3];
    }
    char text[128];
    std::snprintf(text, sizeof text, "%s - %s[%s] - %s  %s[Code:%02x]", chipName, boardName, connector,
                  interfaceName, resetMark, preparation);
    return text;
}

std::vector<std::string> VersionReportLines() {
    std::vector<std::string> lines;
    lines.emplace_back("Device - Print          - Preparation");
    lines.emplace_back("-------------------------------------");
    Lister lister{lines};
    lister.ListSlot(6, "24HJ64", {5, 6, 7, 8, 11, 16, 19});
    lister.ListSlot(1, "2580  ", {2, 4, 5, 6});
    lister.ListSlot(0, "258   ", {2, 4, 5, 6});
    lister.List(0, 2, "2480  ");
    lister.List(0, 3, "248   ");
    lister.List(0, 4, "2320  ");
    lister.List(0, 5, "24J10 ");
    return lines;
}

}  // namespace pelmark
