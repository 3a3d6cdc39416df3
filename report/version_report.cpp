#include <cstdio>
#include <initializer_list>

#include "images/image_table.h"
#include "report/board_names.h"
#include "shell/texts.h"

namespace pelmark {

namespace {

struct Lister {
    std::vector<std::string>& lines;
    int n = 0;

    void List(int row, int slot, const char* chipName) {
        const ImageTableEntry& e = g_imageTable[row][slot];
        if (!HoldsImage(e)) return;
        // The image's own codes, read the way the programming pass reads a
        // masked image; an image too short to hold them reports board 0.
        ImageCodes c;
        ReadMaskedCodes(e, IsPic24Slot(slot), &c);
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
    const char* interfaceName = text::kReportUnknownInterface;
    const char* resetMark = text::kReportNoResetMark;
    const int b = static_cast<signed char>(board);
    if (b >= 1 && b < kBoardNameRows) {
        boardName = kBoardNames[b];
        connector = kConnectors[b];
        const int index = preparation & 0x6F;
        if (index >= 1 && index < kInterfaceRows) interfaceName = kInterfaces[index];
        if (preparation & 0x80) resetMark = text::kReportResetMark;
    } else if (static_cast<signed char>(lineNumber) < 6) {
        boardName = kBoardNames[2];
        connector = kConnectors[2];
    } else {
        boardName = kBoardNames[0];
        connector = kConnectors[3];
    }
    char line[128];
    std::snprintf(line, sizeof line, text::kReportLinePattern, chipName, boardName, connector,
                  interfaceName, resetMark, preparation);
    return line;
}

std::vector<std::string> VersionReportLines() {
    std::vector<std::string> lines;
    lines.emplace_back(text::kReportHeading);
    lines.emplace_back(text::kReportRule);
    Lister lister{lines};
    lister.ListSlot(6, text::kReportChip24HJ64, {5, 6, 7, 8, 11, 16, 19});
    lister.ListSlot(1, text::kReportChip2580, {2, 4, 5, 6});
    lister.ListSlot(0, text::kReportChip258, {2, 4, 5, 6});
    lister.List(0, 2, text::kReportChip2480);
    lister.List(0, 3, text::kReportChip248);
    lister.List(0, 4, text::kReportChip2320);
    lister.List(0, 5, text::kReportChip24J10);
    return lines;
}

}  // namespace pelmark
