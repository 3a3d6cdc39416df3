// Board names and the text of the version report.
#pragma once

#include <string>
#include <vector>

namespace pelmark {

constexpr int kBoardNameRows = 33;
extern const char* const kBoardNames[kBoardNameRows];
extern const char* const kConnectors[kBoardNameRows];
constexpr int kInterfaceRows = 11;
extern const char* const kInterfaces[kInterfaceRows];

const char* BoardName(int index);

// The version report's lines for the images in the image table.
std::vector<std::string> VersionReportLines();
std::string ReportLine(int lineNumber, const char* chipName, unsigned char board, unsigned char preparation);

}  // namespace pelmark
