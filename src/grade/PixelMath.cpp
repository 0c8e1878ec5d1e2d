#include "grade/PixelMath.h"

namespace vd {

namespace {

struct GammaTableBuilder {
    GammaTables t;
    GammaTableBuilder() {
        constexpr double up = 2.2;
        constexpr double down = 1.0 / 2.2;
        for (int e = 0; e < 256; ++e) {
            const double stops = static_cast<double>(e - 127);
            t.expUp[e] = static_cast<float>(std::exp2(stops * up));
            t.expDown[e] = static_cast<float>(std::exp2(stops * down));
        }
        for (int i = 0; i <= 2048; ++i) {
            const double m = 1.0 + static_cast<double>(i) / 2048.0;
            t.mantUp[i] = static_cast<float>(std::pow(m, up));
            t.mantDown[i] = static_cast<float>(std::pow(m, down));
        }
    }
};

}  // namespace

const GammaTables& gammaTables() {
    static const GammaTableBuilder builder;  // built once, on first use
    return builder.t;
}

}  // namespace vd
