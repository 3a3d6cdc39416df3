// The byte trace: its line format, a buffer smaller than one run, and the
// link's bytes reaching the file between waits.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bootloader/engine.h"
#include "cli/console_display.h"
#include "cli/trace.h"
#include "quiet_port.h"
#include "serial/port_link.h"
#include "support/scratch.h"

namespace pelmark::cli {
namespace {

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What the writer hands over, and in which pieces.
struct Collected {
    std::string text;
    std::vector<std::size_t> pieces;
    TraceWriter::Sink Sink() {
        return [this](const char* bytes, std::size_t count) {
            text.append(bytes, count);
            pieces.push_back(count);
            return true;
        };
    }
};

TEST(TraceWriter, OneLinePerRunWithSixDecimalsAndHexBytes) {
    Collected c;
    TraceWriter writer(4096, c.Sink());
    const std::uint8_t search[] = {0xC2};
    const std::uint8_t identity[] = {0x56, 0x48, 0x05, 0x05, 0x04, 0x4B};
    const std::uint8_t edges[] = {0x00, 0x0A, 0xFF};
    writer.Run(12345, true, search, sizeof search);
    writer.Run(17890, false, identity, sizeof identity);
    writer.Run(0, true, edges, sizeof edges);
    writer.Run(1234567890, false, edges, 1);
    writer.Run(98765432101, true, edges + 2, 1);  // past 9999 s the seconds grow wider
    EXPECT_TRUE(c.text.empty()) << "nothing is written before a flush while the buffer has room";
    writer.Flush();
    EXPECT_EQ(c.text,
              "   0.012345 > c2\n"
              "   0.017890 < 56 48 05 05 04 4b\n"
              "   0.000000 > 00 0a ff\n"
              "1234.567890 < 00\n"
              "98765.432101 > ff\n");
    EXPECT_EQ(c.pieces.size(), 1u);
    writer.Flush();
    EXPECT_EQ(c.pieces.size(), 1u) << "an empty buffer is not handed over";
    EXPECT_FALSE(writer.Failed());
}

TEST(TraceWriter, ARunLargerThanTheBufferIsWrittenWholeInPieces) {
    Collected c;
    TraceWriter writer(7, c.Sink());
    std::vector<std::uint8_t> run;
    std::string hex;
    for (int i = 0; i < 40; ++i) {
        run.push_back(static_cast<std::uint8_t>(i * 7));
        char byte[8];
        std::snprintf(byte, sizeof byte, " %02x", (i * 7) & 0xFF);
        hex += byte;
    }
    writer.Run(2500001, false, run.data(), static_cast<std::uint32_t>(run.size()));
    writer.Run(2500002, true, run.data(), 1);
    writer.Flush();
    EXPECT_EQ(c.text, "   2.500001 <" + hex + "\n   2.500002 > 00\n");
    for (const std::size_t piece : c.pieces) EXPECT_LE(piece, 7u);
    EXPECT_GT(c.pieces.size(), 20u);
}

TEST(TraceWriter, AFailedSinkIsReportedAndNotCalledAgain) {
    int calls = 0;
    TraceWriter writer(4, [&calls](const char*, std::size_t) {
        ++calls;
        return false;
    });
    const std::uint8_t bytes[] = {1, 2, 3, 4, 5};
    writer.Run(1, true, bytes, sizeof bytes);
    writer.Flush();
    EXPECT_TRUE(writer.Failed());
    EXPECT_EQ(calls, 1);
}

// A port that answers the search byte with an identity.
class IdentityPort : public QuietPort {
public:
    std::vector<std::uint8_t> pending;
    bool Write(serial::Handle h, const std::uint8_t* bytes, std::uint32_t count) override {
        QuietPort::Write(h, bytes, count);
        // "V", bootloader 5, chip 0x48, board 5, preparation 4, "K".
        if (count == 1 && bytes[0] == 0xC2) pending = {0x56, 0x05, 0x48, 0x05, 0x04, 0x4B};
        return true;
    }
    bool Read(serial::Handle, std::uint8_t* buffer, std::uint32_t max, std::uint32_t* got) override {
        std::uint32_t n = 0;
        for (; n < max && n < pending.size(); ++n) buffer[n] = pending[n];
        pending.clear();
        *got = n;
        return true;
    }
};

TEST(Trace, TheLinksBytesReachTheFileWhenTheDisplayPumpsEvents) {
    test::ScratchDir dir;
    const std::string path = dir.path() + "/trace.txt";
    {
        std::ofstream old(path);
        old << "an earlier trace\n";
    }
    ResetEngineState();
    IdentityPort port;
    serial::SetBackend(&port);
    std::ostringstream out, err;
    ConsoleDisplay display(FrontEnd::Main, out, err, ConsoleOptions{});
    display.SetPumpHook(FlushTrace);

    std::string error;
    ASSERT_TRUE(StartTrace(path, &error)) << error;
    EXPECT_EQ(FileText(path), "") << "a trace starts afresh";
    g_portIndex = 4;
    g_openPortIndex = 3;
    ComPortOpen();
    const std::uint8_t search = 0xC2;
    ASSERT_EQ(ComPortWrite(4, &search, 1), 2);
    ASSERT_EQ(ComPortReadOnce(), 6);
    EXPECT_EQ(FileText(path), "") << "the serial path only fills the buffer";
    display.PumpEvents();
    const std::string traced = FileText(path);
    // Two lines, the search byte then the identity, times well under a
    // second and in order.
    ASSERT_EQ(traced.size(), 17u + 32u) << traced;
    EXPECT_EQ(traced.substr(11, 6), " > c2\n") << traced;
    EXPECT_EQ(traced.substr(28), " < 56 05 48 05 04 4b\n") << traced;
    const double sentAt = std::stod(traced.substr(0, 11));
    const double receivedAt = std::stod(traced.substr(17, 11));
    EXPECT_LE(sentAt, receivedAt);
    EXPECT_LT(receivedAt, 1.0);

    ASSERT_TRUE(StopTrace(&error)) << error;
    ASSERT_EQ(ComPortWrite(4, &search, 1), 2);
    EXPECT_EQ(FileText(path), traced) << "no tap once the trace is stopped";

    ComPortCloseAll();
    serial::SetBackend(nullptr);
    ResetEngineState();
}

TEST(Trace, AFileThatCannotBeOpenedIsReported) {
    test::ScratchDir dir;
    const std::string path = dir.path() + "/missing/trace.txt";
    std::string error;
    EXPECT_FALSE(StartTrace(path, &error));
    EXPECT_EQ(error, "cannot open " + path + ": No such file or directory");
    FlushTrace();  // no trace runs: nothing happens
    EXPECT_TRUE(StopTrace(&error));
}

}  // namespace
}  // namespace pelmark::cli
