// What the launch-sequence tests of both back ends render: a 96x54 float RGBA frame on
// device memory, graded with or without halation and bloom.
#pragma once

#include "gpu/DevicePlan.h"
#include "gpu/Gpu.h"
#include "gpu/GpuTesting.h"

namespace vd::testing {

constexpr int kW = 96, kH = 54;

inline ImageView imageOn(void* data) {
    ImageView v;
    v.data = data;
    v.rowBytes = kW * 16;
    v.x2 = kW;
    v.y2 = kH;
    return v;
}

inline GradeSettings withEffects(bool effects) {
    GradeSettings s;
    s.exposure = 0.5f;
    s.threadCount = 1;
    if (effects) {
        s.halationAmount = 0.5f;
        s.bloomAmount = 0.5f;
    }
    return s;
}

}  // namespace vd::testing
