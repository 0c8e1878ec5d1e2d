#include "gpu/DevicePlan.h"

#include <cmath>

#include "grade/Curves.h"
#include "grade/Effects.h"
#include "grade/GradeContext.h"

namespace vd::gpu {

const char* const kKernelNames[kKernelCount] = {
    "vd_mask",          "vd_down",       "vd_blur_h",       "vd_blur_v",       "vd_grade",
    "vd_bloom_extract", "vd_bloom_down", "vd_bloom_blur_h", "vd_bloom_blur_v", "vd_finish"};

namespace {

// The engine's blur weights for a radius and cap, as the 2k + 1 floats the kernels read.
std::vector<float> blurWeightList(int radius, int cap) {
    float w[2 * kMaxBlurTaps + 1];
    const int k = blurWeights(radius, cap, w);
    return std::vector<float>(w, w + 2 * k + 1);
}

bool usableOnDevice(const ImageView& v) {
    return v.data != nullptr && v.rowBytes != 0 && v.depth == kDepthFloat &&
           (v.components == 3 || v.components == 4);
}

// Bytes of w x h cells of `floats` floats, or 0 when that overflows the engine's cap.
std::size_t cellBytes(int64_t w, int64_t h, int64_t floats) {
    const auto n = checkedBufferFloats(w, h, floats);
    return n && *n > 0 ? *n * sizeof(float) : 0;
}

}  // namespace

const float* deviceCurveTable(int encoding) {
    return curveTable(static_cast<CameraEncoding>(encoding));
}

bool buildDevicePlan(const ImageView* src, const ImageView& dst, const PixelRect& window,
                     const PixelRect& frameRect, const GradeSettings& settings, DevicePlan& plan) {
    plan = DevicePlan{};
    if (!usableOnDevice(dst) || (src != nullptr && !usableOnDevice(*src))) {
        return false;
    }
    const PixelRect clipped = rectIntersect(window, imageBounds(dst));
    if (rectEmpty(clipped)) {
        plan.empty = true;
        return true;
    }
    // The CPU engine's own derivation: the same working values, flags and radii.
    const PixelRect rod = rectEmpty(frameRect) ? imageBounds(dst) : frameRect;
    const GradeContext c = deriveGradeContext(settings, src, dst, rod, clipped);

    Params& p = plan.main;
    if (src != nullptr) {
        p.srcX1 = src->x1;
        p.srcY1 = src->y1;
        p.srcRowBytes = src->rowBytes;
        p.srcComponents = src->components;
        p.pad0 = src->x2;
        p.pad1 = src->y2;
    }
    p.dstX1 = dst.x1;
    p.dstY1 = dst.y1;
    p.dstRowBytes = dst.rowBytes;
    p.dstComponents = dst.components;
    p.x1 = clipped.x1;
    p.y1 = clipped.y1;
    p.x2 = clipped.x2;
    p.y2 = clipped.y2;
    p.curveSize = kCurveSize;
    p.frame = c.frame;
    p.flags = static_cast<int32_t>(c.flags);
    p.encoding = static_cast<int32_t>(c.encoding);
    p.exposureGain = c.exposureGain;
    p.intensity = c.intensity;
    p.contrast = c.contrast;
    p.saturation = c.saturation;
    p.temperature = c.temperature;
    p.tint = c.tint;
    p.highlights = c.highlights;
    p.shadows = c.shadows;
    p.grainAmount = c.grainAmount;
    p.grainCell = c.grainCell;
    p.halationAmount = c.halationAmount;
    p.bloomAmount = c.bloomAmount;
    p.bloomThreshold = c.bloomThreshold;
    p.vignetteAmount = c.vignetteAmount;
    p.vignetteSize = c.vignetteSize;
    p.vignetteFeather = c.vignetteFeather;
    p.borderTop = c.borderTop;
    p.borderSide = c.borderSide;
    p.borderR = c.borderColour[0];
    p.borderG = c.borderColour[1];
    p.borderB = c.borderColour[2];
    p.rodX1 = c.rod.x1;
    p.rodY1 = c.rod.y1;
    p.rodX2 = c.rod.x2;
    p.rodY2 = c.rod.y2;
    p.splitX = c.splitX;
    p.splitHalf = c.splitHalf;

    plan.encoding = p.encoding;
    plan.width = clipped.x2 - clipped.x1;
    plan.height = clipped.y2 - clipped.y1;
    plan.halo = c.has(kDoHalo);
    plan.bloom = c.has(kDoBloom);
    plan.lut = c.has(kDoLut);
    BufferSizes& sizes = plan.sizes;
    if (plan.lut) {
        const int64_t n = settings.lutEdge;
        const auto floats = checkedBufferFloats(n * n, n, 3);
        if (!floats) {
            return false;
        }
        p.lutEdge = settings.lutEdge;
        plan.lutData = settings.lutData;
        plan.lutFloats = *floats;
        sizes.lut = *floats * sizeof(float);
    }

    // The effect regions are those of the CPU engine: grown by the full reach of the
    // downsample, blur and bilinear read (not the bare radius), snapped to the 16-pixel
    // lattice of the frame, and the mask region covering the bloom region, so that tiles
    // match the whole frame and every pixel the bloom source grades has a mask cover.
    const EffectReach reach = effectReach(c);
    const PixelRect srcBounds = src != nullptr ? imageBounds(*src) : PixelRect{};
    const PixelRect* bounds = src != nullptr ? &srcBounds : nullptr;
    const int32_t originX = static_cast<int32_t>(c.rod.x1);
    const int32_t originY = static_cast<int32_t>(c.rod.y1);
    if (plan.halo) {
        const auto region =
            effectRegion(clipped, reach.mask, bounds, kRegionAlign, originX, originY);
        if (!region) {
            return false;
        }
        p.maskX1 = region->x1;
        p.maskY1 = region->y1;
        p.maskW = region->w;
        p.maskH = region->h;
        p.blurW = quarterSize(region->w);
        p.blurH = quarterSize(region->h);
        p.blurRadius = haloBlurRadius(c.haloRadiusPx);
        plan.haloWeights = blurWeightList(p.blurRadius, 48);
        sizes.core = cellBytes(p.maskW, p.maskH, 1);
        sizes.small = cellBytes(p.blurW, p.blurH, 1);
        if (sizes.core == 0 || sizes.small == 0) {
            return false;
        }
    }
    if (plan.bloom) {
        const auto region =
            effectRegion(clipped, reach.bloom, bounds, kRegionAlign, originX, originY);
        if (!region) {
            return false;
        }
        p.bloomX1 = region->x1;
        p.bloomY1 = region->y1;
        p.bloomW = region->w;
        p.bloomH = region->h;
        p.bloom0W = quarterSize(region->w);
        p.bloom0H = quarterSize(region->h);
        p.bloom1W = quarterSize(p.bloom0W);
        p.bloom1H = quarterSize(p.bloom0H);
        p.bloomRad0 = bloomBlurRadius0(c.bloomRadiusPx);
        p.bloomRad1 = bloomBlurRadius1(c.bloomRadiusPx);
        plan.bloomWeights0 = blurWeightList(p.bloomRad0, 40);
        plan.bloomWeights1 = blurWeightList(p.bloomRad1, 40);
        sizes.graded = cellBytes(p.bloomW, p.bloomH, 4);
        sizes.level0 = cellBytes(p.bloom0W, p.bloom0H, 4);
        sizes.level1 = cellBytes(p.bloom1W, p.bloom1H, 4);
        if (sizes.graded == 0 || sizes.level0 == 0 || sizes.level1 == 0 ||
            p.bloomW > INT32_MAX / 16) {
            return false;
        }
    }
    plan.gather = p;
    plan.gather.dstX1 = p.bloomX1;
    plan.gather.dstY1 = p.bloomY1;
    plan.gather.dstRowBytes = p.bloomW * 16;
    plan.gather.dstComponents = 4;
    plan.gather.x1 = p.bloomX1;
    plan.gather.y1 = p.bloomY1;
    plan.gather.x2 = p.bloomX1 + p.bloomW;
    plan.gather.y2 = p.bloomY1 + p.bloomH;
    plan.gather.flags = p.flags | static_cast<int32_t>(kGather);
    plan.level1 = p;
    plan.level1.bloom0W = p.bloom1W;
    plan.level1.bloom0H = p.bloom1H;
    plan.level1.bloomRad0 = p.bloomRad1;
    return true;
}

bool runPlan(const DevicePlan& plan, const RenderInputs& in, Launcher& l) {
    using Buffer = Launcher::Buffer;
    const Params& p = plan.main;
    const Buffer main = l.upload(&plan.main, sizeof(Params));
    if (main == nullptr) {
        return false;
    }
    Buffer lut = in.zero;
    if (plan.lut) {
        lut = l.upload(plan.lutData, plan.sizes.lut);
        if (lut == nullptr) {
            return false;
        }
    }
    Buffer core = in.zero;
    Buffer small = in.zero;
    if (plan.halo) {
        core = l.scratch(plan.sizes.core);
        small = l.scratch(plan.sizes.small);
        const Buffer tmp = l.scratch(plan.sizes.small);
        const Buffer weights =
            l.upload(plan.haloWeights.data(), plan.haloWeights.size() * sizeof(float));
        if (!core || !small || !tmp || !weights) {
            return false;
        }
        const Buffer mask[] = {in.src, core, in.curves, lut, main};
        const Buffer down[] = {core, small, main};
        const Buffer blurH[] = {small, tmp, weights, main};
        const Buffer blurV[] = {tmp, small, weights, main};
        if (!l.launch(kMask, p.maskW, p.maskH, mask, 5) ||
            !l.launch(kDown, p.blurW, p.blurH, down, 3) ||
            !l.launch(kBlurH, p.blurW, p.blurH, blurH, 4) ||
            !l.launch(kBlurV, p.blurW, p.blurH, blurV, 4)) {
            return false;
        }
    }
    if (!plan.bloom) {
        const Buffer grade[] = {in.src, in.dst, in.curves, lut, core, small, main};
        return l.launch(kGrade, plan.width, plan.height, grade, 7);
    }
    const Buffer gather = l.upload(&plan.gather, sizeof(Params));
    const Buffer level1Block = l.upload(&plan.level1, sizeof(Params));
    const Buffer graded = l.scratch(plan.sizes.graded);
    const Buffer level0 = l.scratch(plan.sizes.level0);
    const Buffer level1 = l.scratch(plan.sizes.level1);
    const Buffer tmp0 = l.scratch(plan.sizes.level0);
    const Buffer w0 =
        l.upload(plan.bloomWeights0.data(), plan.bloomWeights0.size() * sizeof(float));
    const Buffer w1 =
        l.upload(plan.bloomWeights1.data(), plan.bloomWeights1.size() * sizeof(float));
    if (!gather || !level1Block || !graded || !level0 || !level1 || !tmp0 || !w0 || !w1) {
        return false;
    }
    const Buffer grade[] = {in.src, graded, in.curves, lut, core, small, gather};
    const Buffer extract[] = {graded, level0, main};
    const Buffer down[] = {level0, level1, main};
    const Buffer blur0H[] = {level0, tmp0, w0, main};
    const Buffer blur0V[] = {tmp0, level0, w0, main};
    const Buffer blur1H[] = {level1, tmp0, w1, level1Block};
    const Buffer blur1V[] = {tmp0, level1, w1, level1Block};
    const Buffer finish[] = {graded, level0, level1, in.dst, main, in.src};
    return l.launch(kGrade, p.bloomW, p.bloomH, grade, 7) &&
           l.launch(kBloomExtract, p.bloom0W, p.bloom0H, extract, 3) &&
           l.launch(kBloomDown, p.bloom1W, p.bloom1H, down, 3) &&
           l.launch(kBloomBlurH, p.bloom0W, p.bloom0H, blur0H, 4) &&
           l.launch(kBloomBlurV, p.bloom0W, p.bloom0H, blur0V, 4) &&
           l.launch(kBloomBlurH, p.bloom1W, p.bloom1H, blur1H, 4) &&
           l.launch(kBloomBlurV, p.bloom1W, p.bloom1H, blur1V, 4) &&
           l.launch(kFinish, plan.width, plan.height, finish, 6);
}

}  // namespace vd::gpu
