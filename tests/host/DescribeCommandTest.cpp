// "huebench describe" on the probe bundle: what a reader of the listing relies on.
#include <gtest/gtest.h>

#include <sstream>

#include "DescribeCommand.h"

namespace vd::cli {
namespace {

TEST(DescribeCommand, ListsTheRecordPropertiesContextsAndParametersInPageOrder) {
    std::ostringstream out, err;
    ASSERT_EQ(describeBundle(VD_PROBE_BUNDLE, out, err), 0) << err.str();
    const std::string text = out.str();
    auto has = [&text](const std::string& part) { return text.find(part) != std::string::npos; };
    for (const char* part :
         {"identifier  com.vandrel.HostProbe", "record      version 1.2", "(1, 2, 3)",
          "OfxImageEffectPropCudaRenderSupported", "page page \"Page\"", "parent controls",
          "clip Source     components \"OfxImageComponentRGBA\", \"OfxImageComponentRGB\"",
          "options \"First\", \"Second\", \"Third\"", "default 0 \"First\""}) {
        EXPECT_TRUE(has(part)) << part << " in\n" << text;
    }
    // Host defaults the plug-in did not set are not listed.
    EXPECT_FALSE(has("OfxImageEffectPropOpenCLRenderSupported"));
    EXPECT_FALSE(has("host noticed"));
    // Page children come first and in page order, then what no page lists.
    const std::size_t controls = text.find("  controls"), amount = text.find("    amount");
    const std::size_t count = text.find("  count"), notOnPage = text.find("not on a page");
    const std::size_t flag = text.find("  flag");
    ASSERT_NE(amount, std::string::npos);
    EXPECT_LT(controls, amount);
    EXPECT_LT(amount, count);
    EXPECT_LT(count, notOnPage);
    EXPECT_LT(notOnPage, flag);
}

TEST(DescribeCommand, AFolderThatIsNoBundleFailsWithItsReason) {
    std::ostringstream out, err;
    EXPECT_EQ(describeBundle("/tmp/none", out, err), 1);
    EXPECT_NE(err.str().find("not an OpenFX bundle"), std::string::npos);
}

}  // namespace
}  // namespace vd::cli
