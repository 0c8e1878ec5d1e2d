// The shipped looks through the built plug-in in the project's test host: choosing a pack and
// one of its options renders the picture through exactly that look file, Intensity blends it,
// and a look that cannot be loaded leaves the picture without a look while the render still
// succeeds.
//
// The references are computed here from the look files themselves, decoded with the
// plug-in's own decoder and sampled with the engine's own tetrahedral sampler. With every
// other control at its default the engine's float path is "sample, then blend by intensity",
// so a render and its reference differ only by float rounding: the engine samples a copy of
// the cube packed four floats to an entry, which sums the same four products in the same
// order. kTolerance (1e-6, a few units in the last place of values near 1) allows for a
// compiler fusing one of those multiply-adds, and nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "../common/PluginPictures.h"
#include "../common/TestFiles.h"
#include "TestHost.h"
#include "grade/PixelMath.h"
#include "looks/Catalogue.h"
#include "looks/LookFile.h"

namespace vd {
namespace {

namespace fs = std::filesystem;
using test::maxDifference;
using test::readFile;
using test::ScopedEnv;
using test::TempDir;
using testhost::BitDepth;
using testhost::Image;
using testhost::Instance;
using testhost::RenderRequest;
using testhost::RenderResult;
using testhost::TestHost;

constexpr float kTolerance = 1e-6f;
// A look must move some channel of the test picture by more than this to count as applied.
constexpr float kVisible = 0.02f;

// 64 x 36 float RGBA: colours spread through the cube and a little beyond it on both sides
// (the sampler clamps those), so every look changes many pixels.
Image testPicture() {
    Image image(BitDepth::float32, 4, {0, 0, 64, 36});
    int i = 0;
    for (int y = 0; y < 36; ++y) {
        for (int x = 0; x < 64; ++x, ++i) {
            // Additive recurrences with irrational steps: well spread, no two pixels alike.
            const double k = static_cast<double>(i);
            const float r = static_cast<float>(std::fmod(k * 0.7548776662, 1.0) * 1.1 - 0.05);
            const float g = static_cast<float>(std::fmod(k * 0.5698402910, 1.0) * 1.1 - 0.05);
            const float b = static_cast<float>(std::fmod(k * 0.4142135624, 1.0) * 1.1 - 0.05);
            image.set(x, y, 0, r);
            image.set(x, y, 1, g);
            image.set(x, y, 2, b);
            image.set(x, y, 3, 1.0f);
        }
    }
    return image;
}

// What the engine should make of the picture with this cube at this intensity.
Image reference(const Image& source, const LutCube& cube, float intensity) {
    Image out = source;
    const int edge = static_cast<int>(cube.edge);
    for (int y = source.bounds().y1; y < source.bounds().y2; ++y) {
        for (int x = source.bounds().x1; x < source.bounds().x2; ++x) {
            const float r = source.at(x, y, 0), g = source.at(x, y, 1), b = source.at(x, y, 2);
            float l[3];
            sampleTetra(cube.samples.data(), edge, r, g, b, l);
            out.set(x, y, 0, r + (l[0] - r) * intensity);
            out.set(x, y, 1, g + (l[1] - g) * intensity);
            out.set(x, y, 2, b + (l[2] - b) * intensity);
        }
    }
    return out;
}

LutCube decodeShipped(int lookIndex) {
    const std::string bytes = readFile(fs::path(VD_BUNDLE_LOOKS_DIR) / lookFileName(lookIndex));
    LutCube cube;
    EXPECT_TRUE(
        decodeLookFile(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), cube))
        << lookFileName(lookIndex);
    return cube;
}

// One plug-in instance in the filter context; renders the test picture with a look chosen
// as the user chooses it.
class PluginLooks : public ::testing::Test {
  protected:
    void start(const std::string& bundle) {
        host_.emplace(bundle);
        host_->setUp(kOfxImageEffectContextFilter);
        fx_ = &host_->createInstance(kOfxImageEffectContextFilter);
    }
    void TearDown() override {
        if (host_) {
            EXPECT_TRUE(host_->problems().empty());
        }
        host_.reset();
    }

    Image render(int pack, int option, double intensity = 100.0) {
        EXPECT_EQ(fx_->userEdit("footage", pack), kOfxStatOK);
        EXPECT_EQ(fx_->userEdit(packLutParam(pack), option), kOfxStatOK);
        EXPECT_EQ(fx_->userEdit("intensity", intensity), kOfxStatOK);
        RenderRequest request;
        request.source = picture_;
        const RenderResult result = fx_->render(request);
        EXPECT_EQ(result.status, kOfxStatOK);
        EXPECT_EQ(result.imagesNotReleased, 0);
        return result.output;
    }

    const Image picture_ = testPicture();
    std::optional<TestHost> host_;
    Instance* fx_ = nullptr;
};

// The looks of a pack differ from each other by a mean CIEDE2000 of 4 or more
// (ShippedLooksTest), so a plug-in that loaded the wrong option's file could not pass.
TEST_F(PluginLooks, EveryPackAndOptionRendersItsOwnLookFileBlendedByIntensity) {
    // The bundle's own looks, found next to the plug-in as a host installs it.
    const ScopedEnv noOverride("VD_LOOKS_DIR", std::nullopt);
    start(VD_BUNDLE_DIR);
    ASSERT_EQ(lookCount(), 58);
    std::map<int, Image> none;  // per pack
    for (int i = 0; i < lookCount(); ++i) {
        const LookEntry& look = *lookEntry(i);
        SCOPED_TRACE(lookFileName(i));
        const LutCube cube = decodeShipped(i);
        ASSERT_GE(cube.edge, 2u);
        const bool firstOfPack = !none.contains(look.pack);
        if (firstOfPack) {
            none[look.pack] = render(look.pack, 0);
            EXPECT_LE(maxDifference(none[look.pack], picture_), 0.0f)
                << "None must leave the picture as it is";
        }
        const Image full = render(look.pack, look.number);
        EXPECT_GT(maxDifference(full, none[look.pack]), kVisible);
        EXPECT_LE(maxDifference(full, reference(picture_, cube, 1.0f)), kTolerance);
        if (firstOfPack) {
            // Intensity is the same blend for every look; one look per pack shows it.
            EXPECT_LE(maxDifference(render(look.pack, look.number, 50.0),
                                    reference(picture_, cube, 0.5f)),
                      kTolerance);
            EXPECT_LE(maxDifference(render(look.pack, look.number, 0.0), none[look.pack]), 0.0f);
        }
    }
}

// The looks directory is found once per process and kept, so each test here loads its own
// copy of the plug-in (a separate file is a separate library with its own store), in a bundle
// of its own that holds no looks.
class UnloadableLooks : public PluginLooks {
  protected:
    void SetUp() override {
        const fs::path binaryDir = bundle_ / "Contents" / "Linux-x86-64";
        fs::create_directories(binaryDir);
        fs::copy_file(fs::path(VD_BUNDLE_DIR) / "Contents" / "Linux-x86-64" / "VandrelHuebench.ofx",
                      binaryDir / "VandrelHuebench.ofx");
    }

    // Every look renders as "None" does, and succeeds, twice over (the second time the
    // store answers from the failure it remembered).
    void expectRendersWithoutLook(int lookIndex) {
        const LookEntry& look = *lookEntry(lookIndex);
        SCOPED_TRACE(lookFileName(lookIndex));
        const Image none = render(look.pack, 0);
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_LE(maxDifference(render(look.pack, look.number), none), 0.0f);
        }
    }

    TempDir tmp_;
    const fs::path root_ = tmp_.path();
    const fs::path bundle_ = root_ / "VandrelHuebench.ofx.bundle";
};

// Damaged look files in a folder that is used: HostileFilesTest.
TEST_F(UnloadableLooks, NoLooksDirectoryRendersEveryLookAsNone) {
    // Neither the named directory nor the bundle holds any looks.
    const ScopedEnv override("VD_LOOKS_DIR", (root_ / "no-such-directory").string());
    start(bundle_.string());
    for (int i = 0; i < lookCount(); ++i) {
        expectRendersWithoutLook(i);
    }
}

}  // namespace
}  // namespace vd
