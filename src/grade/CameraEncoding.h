// The camera encodings footage arrives in.
//
// Owns: the one list of encodings and their codes, shared by the engine (which curve it
// decodes and encodes with), the look catalogue (the encoding of each pack's footage) and
// the build-time tools (the chart as a camera records it, the look recipes).
// Does not own: the curves themselves (Curves.h in the engine, the tools' colour maths).
#pragma once

#include <cstdint>

namespace vd {

enum class CameraEncoding : std::int32_t { AppleLog = 0, Rec709 = 1, DLog = 2 };

// Whether a value read from outside (a cast code) names one of the encodings.
constexpr bool isCameraEncoding(CameraEncoding e) {
    return e == CameraEncoding::AppleLog || e == CameraEncoding::Rec709 ||
           e == CameraEncoding::DLog;
}

}  // namespace vd
