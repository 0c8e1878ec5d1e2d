#include "mylooks/Json.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "../common/TestFiles.h"
#include "controls/Controls.h"
#include "json/Json.h"

namespace vd {
namespace {

std::string doc(const std::string& entries) {
    return "{\"schema\": 1, \"looks\": [" + entries + "]}";
}

bool parses(const std::string& text) {
    return parseMyLooksText(text).ok;
}

TEST(JsonReader, DocumentShapes) {
    ParsedMyLooks empty = parseMyLooksText("{}");
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.schema, 1);
    EXPECT_FALSE(empty.hasLooks);
    EXPECT_TRUE(empty.looks.empty());

    ParsedMyLooks blank = parseMyLooksText("\n\n  {\"looks\": [ \t\r\n ]}  \n\n");
    EXPECT_TRUE(blank.ok);
    EXPECT_TRUE(blank.hasLooks);
    EXPECT_TRUE(blank.looks.empty());

    EXPECT_EQ(parseMyLooksText("{\"schema\": 7}").schema, 7);
    EXPECT_EQ(parseMyLooksText("{\"schema\": 1.5}").schema, 1);

    // Repeated keys: the later value wins, a second looks array appends.
    ParsedMyLooks twice = parseMyLooksText(
        "{\"looks\":[{\"name\":\"a\"}],\"schema\":3,\"schema\":1,\"looks\":[{\"name\":\"b\"}]}");
    ASSERT_TRUE(twice.ok);
    EXPECT_EQ(twice.schema, 1);
    ASSERT_EQ(twice.looks.size(), 2u);
    EXPECT_EQ(twice.looks[1].name, "b");
}

TEST(JsonReader, EntryFieldsAndDefaults) {
    ParsedMyLooks p = parseMyLooksText(doc("{\"name\": \"Only\"}"));
    ASSERT_TRUE(p.ok);
    ASSERT_EQ(p.looks.size(), 1u);
    SavedLook expected;  // every value of a fresh record is pinned by ExactLayout
    expected.name = "Only";
    EXPECT_EQ(p.looks[0], expected);

    // Which key lands in which field is pinned by the writer's exact layout and the capture
    // and apply through the plug-in; unknown members of any shape are stepped over.
    p =
        parseMyLooksText(doc("{\"name\":\"All\",\"pack\":3,\"extra\":{\"a\":[1,{\"b\":null},\"s\","
                             "true,-2.5e3,[]],\"c\":{}}}"));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.looks[0].pack, 3);

    // Keys match exactly, by case and in full.
    p = parseMyLooksText(doc("{\"name\":\"x\",\"Exposure\":5,\"exposur\":5}"));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.looks[0].exposure, 0);

    // An empty name is fine here; no name at all fails the whole text.
    EXPECT_TRUE(parses(doc("{\"name\":\"\"}")));
    EXPECT_FALSE(parses(doc("{}")));
    EXPECT_FALSE(parses(doc("{\"pack\":1}")));
    EXPECT_FALSE(parses(doc("{\"name\":\"ok\"},{\"pack\":1}")));
}

TEST(JsonReader, NumbersAreReadAsStrtodReadsThem) {
    auto exposure = [](const std::string& value) {
        ParsedMyLooks p = parseMyLooksText(doc("{\"name\":\"n\",\"exposure\":" + value + "}"));
        EXPECT_TRUE(p.ok) << value;
        return p.ok ? p.looks[0].exposure : std::nan("");
    };
    EXPECT_EQ(exposure(" \t+1.5 "), 1.5);
    EXPECT_EQ(exposure("1e-400"), 0);
    for (const char* bad : {"null", "true", "\"1\"", "1x", "-", "", "1.5.5", "e5"}) {
        EXPECT_FALSE(parses(doc("{\"name\":\"n\",\"exposure\":" + std::string(bad) + "}"))) << bad;
    }

    auto pack = [](const std::string& value) {
        return parseMyLooksText(doc("{\"name\":\"n\",\"pack\":" + value + "}")).looks.at(0).pack;
    };
    // Truncated toward zero; what an int cannot hold becomes INT32_MIN, never undefined.
    EXPECT_EQ(pack("2.9"), 2);
    EXPECT_EQ(pack("-1.9"), -1);
    EXPECT_EQ(pack("2147483648"), INT32_MIN);
    EXPECT_EQ(pack("nan"), INT32_MIN);

    // Skipped members take a plain number-like run, but not the words strtod knows.
    EXPECT_TRUE(parses("{\"other\": +5}"));
    EXPECT_TRUE(parses("{\"other\": 1-2e}"));
    EXPECT_FALSE(parses("{\"other\": inf}"));
    EXPECT_FALSE(parses("{\"other\": }"));
    // Only the prefix of a literal is compared; what follows is judged by the grammar.
    EXPECT_FALSE(parses("{\"other\": nullx}"));
    EXPECT_TRUE(parses("{\"other\": [true ,false, null]}"));
}

TEST(JsonReader, StringsAndEscapes) {
    auto name = [](const std::string& quoted) {
        ParsedMyLooks p = parseMyLooksText(doc("{\"name\":" + quoted + "}"));
        EXPECT_TRUE(p.ok) << quoted;
        return p.ok ? p.looks[0].name : std::string("<failed>");
    };
    EXPECT_EQ(name("\"A\\u00e9B\""),
              "A\xC3\xA9"
              "B");
    EXPECT_EQ(name("\"\\ud83d\\ude00\""), "\xED\xA0\xBD\xED\xB8\x80");
    EXPECT_EQ(name("\"\\u0041\\u07FF\\uFFFF\""), "A\xDF\xBF\xEF\xBF\xBF");
    EXPECT_EQ(name("\"\\u0000\""), std::string(1, '\0'));
    EXPECT_EQ(name("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\""), "\"\\/\b\f\n\r\t");
    // Raw control and high bytes pass through unchecked.
    EXPECT_EQ(name("\"\x01\xFF\t\""), "\x01\xFF\t");

    for (const char* bad :
         {"\"\\x\"", "\"\\u12g4\"", "\"\\u12\"", "\"\\u", "\"abc", "\"\\", "abc", "'abc'"}) {
        EXPECT_FALSE(parses(doc("{\"name\":" + std::string(bad) + "}"))) << bad;
    }
    // Keys are compared after their escapes are decoded.
    EXPECT_EQ(parseMyLooksText(doc("{\"n\\u0061me\":\"x\"}")).looks.at(0).name, "x");
}

TEST(JsonReader, GrammarFailures) {
    // Nothing but whitespace may follow the object; the store drops a byte-order mark before
    // parsing.
    for (const char* bad : {"{} {}", "{}x", "", "[]", "\xEF\xBB\xBF{}", "{\"schema\":1,}",
                            "{\"schema\":1 \"looks\":[]}", "{\"looks\":[{\"name\":\"a\"},]}",
                            "{\"looks\":[{\"name\":\"a\"} {\"name\":\"b\"}]}", "{\"looks\":{}}",
                            "{\"schema\" 1}", "{schema:1}", "{\"x\":[1,]}", "{\"x\":[1 2]}",
                            "{\"x\":{\"a\":1,}}", "{\"looks\":[", "{\"x\":", "{"}) {
        EXPECT_FALSE(parses(bad)) << bad;
    }
}

TEST(JsonReader, NestingDepthIsBoundedWithoutExhaustingTheStack) {
    auto nested = [](int levels, char open, char close) {
        std::string inner;
        for (int i = 0; i < levels; ++i) {
            inner += open;
            if (open == '{') {
                inner += "\"k\":";
            }
        }
        inner += "1";
        inner.append(static_cast<std::size_t>(levels), close);
        return "{\"x\":" + inner + "}";
    };
    EXPECT_TRUE(parses(nested(200, '[', ']')));
    EXPECT_TRUE(parses(nested(200, '{', '}')));
    EXPECT_FALSE(parses(nested(300, '[', ']')));
    // Far deeper than any stack would take if the reader recursed without a bound.
    EXPECT_FALSE(parses(nested(1000000, '[', ']')));
    EXPECT_FALSE(parses(nested(1000000, '{', '}')));
    EXPECT_FALSE(parses("{\"x\":" + std::string(1000000, '[')));
}

TEST(JsonWriter, ExactLayout) {
    EXPECT_EQ(formatMyLooksText({}), "{\n  \"schema\": 1,\n  \"looks\": [  ]\n}\n");

    // The whole text of a look: every key in its order, and the fresh values that an absent
    // key reads as (the controls' defaults).
    SavedLook a;
    a.name = "A";
    a.pack = -2;
    a.lut = 7;
    a.exposure = 0.5;
    EXPECT_EQ(
        formatMyLooksText({a}),
        "{\n  \"schema\": 1,\n  \"looks\": [\n    {\n      \"name\": \"A\",\n      \"pack\": -2,"
        "\n      \"lut\": 7,\n      \"intensity\": 100,\n      \"exposure\": 0.5,"
        "\n      \"highlights\": 0,\n      \"shadows\": 0,\n      \"contrast\": 0,"
        "\n      \"saturation\": 0,\n      \"temperature\": 0,\n      \"tint\": 0,"
        "\n      \"grainAmount\": 0,\n      \"grainSize\": 1,"
        "\n      \"halationAmount\": 0,\n      \"halationRadius\": 1,"
        "\n      \"bloomAmount\": 0,\n      \"bloomRadius\": 1,"
        "\n      \"bloomThreshold\": 70,\n      \"vignetteAmount\": 0,"
        "\n      \"vignetteSize\": 0.5,\n      \"vignetteFeather\": 0.5,"
        "\n      \"borderTop\": 0,\n      \"borderSide\": 0,\n      \"borderRed\": 0,"
        "\n      \"borderGreen\": 0,\n      \"borderBlue\": 0\n    }\n  ]\n}\n");

    // Names: the short escapes, \u00xx for other control bytes, everything else raw.
    SavedLook n;
    n.name = std::string("t\t\"q\\\x01\x1F\b\f\n\r/\x7F\xC3\xA9", 15);
    const std::string named = formatMyLooksText({n});
    EXPECT_NE(named.find("\"name\": \"t\\t\\\"q\\\\\\u0001\\u001f\\b\\f\\n\\r/\x7F\xC3\xA9\""),
              std::string::npos)
        << named;
}

TEST(JsonWriter, NumberFormatting) {
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& [value, text] : {std::pair{0.5, "0.5"},
                                      {0.1, "0.10000000000000001"},
                                      {1.0 / 3.0, "0.33333333333333331"},
                                      {1.5e20, "1.5e+20"},
                                      {1e-10, "0"},
                                      {2.0000000001, "2"},
                                      {-0.0, "0"},
                                      {100.0, "100"},
                                      {-2.5, "-2.5"},
                                      {-1e15, "-1000000000000000"},
                                      {2e15, "2000000000000000"},
                                      {inf, "0"},
                                      {-inf, "0"},
                                      {std::nan(""), "0"}}) {
        EXPECT_EQ(formatJsonNumber(value), text) << value;
    }
}

// Builds a tiny locale whose decimal point is a comma with the C library's own compiler,
// so the test needs no installed locales. Skips when the tool or its data are missing.
class CommaLocale : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string source = dir_.path() + "/comma.def";
        test::writeFile(source,
                        "LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \".\"\ngrouping 3;3\n"
                        "END LC_NUMERIC\n");
        const std::string cmd = "localedef -c -i '" + source +
                                "' -f ANSI_X3.4-1968 --no-archive '" + dir_.path() +
                                "/comma.ascii' >/dev/null 2>&1";
        (void)std::system(cmd.c_str());  // warns about the categories it leaves out
        oldLocale_ = std::setlocale(LC_NUMERIC, nullptr);
        if (std::setlocale(LC_NUMERIC, "comma.ascii") == nullptr) {
            GTEST_SKIP() << "could not build a comma-decimal locale here";
        }
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 0.5);
        if (std::string(probe) != "0,5") {
            GTEST_SKIP() << "locale did not take effect";
        }
    }
    void TearDown() override { std::setlocale(LC_NUMERIC, oldLocale_.c_str()); }
    test::TempDir dir_;
    test::ScopedEnv locPath_{"LOCPATH", dir_.path()};
    std::string oldLocale_;
};

TEST_F(CommaLocale, BothDirectionsUseAPointWhateverTheProcessLocale) {
    EXPECT_EQ(std::strtod("0.5", nullptr), 0.0);  // the C library itself now stops at '.'
    EXPECT_EQ(formatJsonNumber(0.5), "0.5");
    EXPECT_EQ(formatJsonNumber(1.0 / 3.0), "0.33333333333333331");
    SavedLook look;
    look.name = "Comma";
    look.exposure = 1.25;
    look.tint = -0.1;
    const std::string text = formatMyLooksText({look});
    EXPECT_EQ(text.find(",25"), std::string::npos);
    ParsedMyLooks back = parseMyLooksText(text);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.looks.at(0), look);
    // A comma is never taken as a decimal point: "1,5" is the number 1 and then a comma.
    EXPECT_FALSE(parses(doc("{\"name\":\"n\",\"exposure\":1,5}")));
}

}  // namespace
}  // namespace vd
