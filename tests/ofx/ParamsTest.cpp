// The parameter set: the whole describe output through the built .ofx against one reviewed
// golden text, and the rules the control table must keep for its other users (the render,
// Reset, My Looks and the command line).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "DescribeCommand.h"
#include "PluginHost.h"
#include "controls/Controls.h"

namespace vd {
namespace {

std::string goldenText() {
    std::ifstream in(VD_DESCRIBE_GOLDEN);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// "huebench describe --every-property" on a host profile, with the bundle's path masked.
std::string describeText(bool fullHost) {
    cli::DescribeOptions options;
    options.everyProperty = true;
    options.profile = test::hostProfile(fullHost);
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(cli::describeBundle(test::kBundle, out, err, options), 0) << err.str();
    std::string text = out.str();
    for (std::size_t at = text.find(test::kBundle); at != std::string::npos;
         at = text.find(test::kBundle)) {
        text.replace(at, test::kBundle.size(), "<bundle>");
    }
    return text;
}

// Run with VD_UPDATE_GOLDEN=1 to rewrite the golden file; review the difference before
// committing it.
TEST(Describe, MatchesTheReviewedGoldenTextOnEveryHostProfile) {
    const std::string full = describeText(true);
    if (std::getenv("VD_UPDATE_GOLDEN")) {
        std::ofstream(VD_DESCRIBE_GOLDEN) << full;
    }
    const std::string golden = goldenText();
    ASSERT_FALSE(golden.empty()) << VD_DESCRIBE_GOLDEN;
    EXPECT_EQ(full, golden);

    // A host without propSetIntN and propSetStringN gets every value one by one and no
    // choice order; nothing else differs.
    std::istringstream lines(golden);
    std::string withoutOrder;
    for (std::string line; std::getline(lines, line);) {
        if (line.find(kOfxParamPropChoiceOrder) == std::string::npos) {
            withoutOrder += line + "\n";
        }
    }
    EXPECT_EQ(describeText(false), withoutOrder);
}

TEST(ControlTable, NamesParentsAndRangesAreConsistent) {
    std::set<std::string> names;
    std::set<std::string> groups;
    for (const ParamSpec& row : paramTable()) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(names.insert(row.name).second);
        if (row.kind == ParamKind::group) {
            groups.insert(row.name);
        }
        EXPECT_TRUE(row.parent.empty() || groups.count(row.parent)) << "parent comes first";
        if (row.kind == ParamKind::number) {
            EXPECT_LE(row.min, row.defaultValue);
            EXPECT_LE(row.defaultValue, row.max);
            EXPECT_LE(row.min, row.displayMin);
            EXPECT_LE(row.displayMax, row.max);
        }
        if (row.kind == ParamKind::choice) {
            EXPECT_LT(row.defaultValue, static_cast<double>(row.options.size()));
        }
    }
}

// The render, Reset, My Looks and the command line all find their controls in the table, so
// a control they disagree on is a table fault.
TEST(ControlTable, EveryUserOfAControlAgreesWithItsRow) {
    const GradeSettings fresh;
    std::set<std::string> keys;
    std::set<std::string> options;
    int renderedNumbers = 0;
    for (const ParamSpec& row : paramTable()) {
        SCOPED_TRACE(row.name);
        if (row.engineNumber) {
            ++renderedNumbers;
            // A fresh record holds every control at its default, in engine units.
            EXPECT_EQ(fresh.*row.engineNumber,
                      static_cast<float>(row.defaultValue / row.hostPerEngine));
        }
        if (row.engineSwitch) {
            EXPECT_EQ(fresh.*row.engineSwitch, row.defaultValue != 0);
        }
        const bool rendered = row.engineNumber || row.engineSwitch || row.engineColour;
        EXPECT_EQ(rendered, row.renderRead != RenderRead::no && row.name != control::footage);
        // What My Looks keeps, Reset puts back and the command line can set.
        if (!row.savedKeys.empty()) {
            EXPECT_TRUE(row.resets);
            EXPECT_FALSE(row.option.empty());
            EXPECT_EQ(row.renderRead, RenderRead::required);
        }
        for (const std::string& key : row.savedKeys) {
            EXPECT_TRUE(keys.insert(key).second) << key;
        }
        if (!row.option.empty()) {
            EXPECT_TRUE(options.insert(row.option).second) << row.option;
        }
    }
    EXPECT_EQ(renderedNumbers, 21);  // twenty look controls and the split position
    EXPECT_EQ(keys.size(), 23u);
    EXPECT_EQ(savedLookKeys().size(), 23u);
}

}  // namespace
}  // namespace vd
