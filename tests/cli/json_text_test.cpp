// Device texts as JSON strings: every byte survives the trip through a JSON
// document and back.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "cli/json_text.h"

namespace pelmark::cli {
namespace {

std::string AllBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

TEST(JsonText, EveryByteRoundTripsThroughAJsonDocument) {
    const std::string bytes = AllBytes();
    const std::string text = BytesAsJsonText(bytes);
    // Raw bytes from 0x80 on are not UTF-8: nlohmann refuses to write them.
    EXPECT_THROW((void)nlohmann::json(bytes).dump(), nlohmann::json::type_error);

    const std::string document = nlohmann::json{{"text", text}}.dump();
    // Control bytes are escaped, so the document stays one line.
    EXPECT_EQ(document.find('\n'), std::string::npos);
    EXPECT_NE(document.find("\\u0000"), std::string::npos);
    EXPECT_NE(document.find("\\u001b"), std::string::npos);

    const std::string back = nlohmann::json::parse(document).at("text").get<std::string>();
    std::string decoded;
    ASSERT_TRUE(JsonTextAsBytes(back, &decoded));
    EXPECT_EQ(decoded, bytes);
}

TEST(JsonText, EachByteIsTheCodePointOfItsNumber) {
    struct Case {
        std::string bytes;
        std::string utf8;
    };
    const Case cases[] = {
        {"", ""},
        {"18F26k80", "18F26k80"},
        {"\x7f", "\x7f"},
        {"\x80", "\xc2\x80"},
        {"\xbf", "\xc2\xbf"},
        {"\xc0", "\xc3\x80"},
        {"\xe9t\xe9", "\xc3\xa9t\xc3\xa9"},  // "été" in Latin-1
        {"\xff", "\xc3\xbf"},
    };
    for (const Case& c : cases) EXPECT_EQ(BytesAsJsonText(c.bytes), c.utf8) << c.utf8;
}

TEST(JsonText, TextsNoByteMadeAreRefused) {
    std::string bytes = "kept";
    for (const char* text : {"\xe2\x82\xac" /* U+20AC */, "\xc3", "\xc3x", "\x80", "\xc4\x80" /* U+0100 */}) {
        EXPECT_FALSE(JsonTextAsBytes(text, &bytes)) << text;
        EXPECT_EQ(bytes, "kept");
    }
}

}  // namespace
}  // namespace pelmark::cli
