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
    EXPECT_TRUE(has("identifier  com.vandrel.HostProbe")) << text;
    EXPECT_TRUE(has("record      version 1.2"));
    EXPECT_TRUE(has("(1, 2, 3)"));
    EXPECT_TRUE(has("OfxImageEffectPropCudaRenderSupported"));
    // Host defaults the plug-in did not set are not listed.
    EXPECT_FALSE(has("OfxImageEffectPropOpenCLRenderSupported"));
    EXPECT_TRUE(
        has("clip Source     components \"OfxImageComponentRGBA\", \"OfxImageComponentRGB\""));
    EXPECT_TRUE(has("page page \"Page\""));
    EXPECT_TRUE(has("options \"First\", \"Second\", \"Third\""));
    EXPECT_TRUE(has("default 0 \"First\""));
    // Page children come first and in page order, then what no page lists.
    const std::size_t controls = text.find("  controls"), amount = text.find("    amount");
    const std::size_t count = text.find("  count"), notOnPage = text.find("not on a page");
    const std::size_t flag = text.find("  flag");
    ASSERT_NE(amount, std::string::npos);
    EXPECT_LT(controls, amount);
    EXPECT_LT(amount, count);
    EXPECT_LT(count, notOnPage);
    EXPECT_LT(notOnPage, flag);
    EXPECT_TRUE(has("parent controls"));
    EXPECT_FALSE(has("host noticed"));
}

TEST(DescribeCommand, AFolderThatIsNoBundleFailsWithItsReason) {
    std::ostringstream out, err;
    EXPECT_EQ(describeBundle("/tmp/none", out, err), 1);
    EXPECT_NE(err.str().find("not an OpenFX bundle"), std::string::npos);
}

}  // namespace
}  // namespace vd::cli
