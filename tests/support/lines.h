// Text as lines: what a program or a display wrote, split at '\n'.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace pelmark::test {

// The lines of `text`; a final '\n' ends the last line, it opens no empty one.
inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace pelmark::test
