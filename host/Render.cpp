// Images, renders and regions of interest: what the test host hands out through clipGetImage,
// how it lays the pixels out in memory, and how it checks them after the plug-in ran.
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "HostInternal.h"

namespace vd::testhost {
namespace {

// Bytes written around and between the rows of every image; a change means the plug-in wrote
// outside the pixels it was given.
constexpr unsigned char kGuardByte = 0xA5;
constexpr std::size_t kGuardBytes = 64;

// One image in the memory layout the plug-in sees.
struct ImageBuffer {
    Image format;  // depth, components, bounds; pixels live in storage
    std::vector<unsigned char> storage;
    std::size_t stride = 0;  // bytes from one row to the next, without sign
    bool negative = false;
    void* deviceHandle = nullptr;  // GPU modes: the device copy, released when the render ends

    int rowBytes() const { return negative ? -static_cast<int>(stride) : static_cast<int>(stride); }
    std::size_t rowOffset(int y) const {
        const std::size_t row = std::size_t(y - format.bounds().y1);
        const std::size_t rows = std::size_t(format.height());
        return kGuardBytes + (negative ? rows - 1 - row : row) * stride;
    }
    // What OfxImagePropData points at: the first byte of the bottom row (y1).
    unsigned char* data() {
        return format.height() > 0 ? storage.data() + rowOffset(format.bounds().y1)
                                   : storage.data() + kGuardBytes;
    }
    void* pluginData() { return deviceHandle ? deviceHandle : data(); }

    ImageBuffer(const Image& image, bool negativeRows, int padding) : format(image) {
        stride = image.rowBytes() + std::size_t(padding);
        negative = negativeRows;
        storage.assign(2 * kGuardBytes + stride * std::size_t(image.height()), kGuardByte);
        for (int y = image.bounds().y1; y < image.bounds().y2; ++y) {
            std::memcpy(storage.data() + rowOffset(y), image.row(y), image.rowBytes());
        }
    }
    ImageBuffer(const ImageBuffer&) = delete;
    ImageBuffer& operator=(const ImageBuffer&) = delete;

    Image pixels() const {
        Image out = format;
        for (int y = format.bounds().y1; y < format.bounds().y2; ++y) {
            std::memcpy(out.row(y), storage.data() + rowOffset(y), format.rowBytes());
        }
        return out;
    }
    // True when every byte outside the pixel rows still holds the guard value.
    bool guardsIntact() const {
        const std::size_t pixelBytes = format.rowBytes();
        for (std::size_t i = 0; i < storage.size(); ++i) {
            const bool inRows = i >= kGuardBytes && i < storage.size() - kGuardBytes &&
                                (i - kGuardBytes) % stride < pixelBytes;
            if (!inRows && storage[i] != kGuardByte) {
                return false;
            }
        }
        return true;
    }
};

struct FetchedImage {
    PropertySet props;
    Instance* instance = nullptr;
    std::string clip;
    std::shared_ptr<ImageBuffer> buffer;
    bool reported = false;  // already counted as not released
};

// Every image handed out and not yet released.
struct ImageTable {
    std::mutex mutex;
    std::map<const PropertySet*, std::unique_ptr<FetchedImage>> images;
};
ImageTable& imageTable() {
    static ImageTable* table = new ImageTable;
    return *table;
}

// The render or regions-of-interest call running on this thread, so clipGetImage and
// clipGetRegionOfDefinition can answer for it and parameters are read at its time. Kept per
// thread so that tests may run several renders at once.
struct RenderState {
    Instance* instance = nullptr;
    OfxTime time = 0;
    const RenderRequest* request = nullptr;  // null for a regions-of-interest call
    std::optional<OfxRectD> sourceRegion;    // regions-of-interest calls only
    std::shared_ptr<ImageBuffer> source;
    std::shared_ptr<ImageBuffer> output;
    std::atomic<int> fetched{0};
};
thread_local RenderState* tRender = nullptr;

OfxRectD canonical(const OfxRectI& r, OfxPointD scale) {
    const double sx = scale.x > 0 ? scale.x : 1.0;
    const double sy = scale.y > 0 ? scale.y : 1.0;
    return {r.x1 / sx, r.y1 / sy, r.x2 / sx, r.y2 / sy};
}

OfxRectI pixels(const OfxRectD& r, OfxPointD scale) {
    return {int(std::floor(r.x1 * scale.x)), int(std::floor(r.y1 * scale.y)),
            int(std::ceil(r.x2 * scale.x)), int(std::ceil(r.y2 * scale.y))};
}

bool isEmpty(const OfxRectI& r) {
    return r.x2 <= r.x1 || r.y2 <= r.y1;
}

bool isOutput(const Clip& clip) {
    return clip.name == kOfxImageEffectOutputClipName;
}

std::string premultiplicationOf(const Image& image) {
    if (image.components() == 3) {
        return kOfxImageOpaque;
    }
    return image.premultiplied ? kOfxImagePreMultiplied : kOfxImageUnPreMultiplied;
}

// The region of definition of a clip during the render on this thread, if it has one.
std::optional<OfxRectD> renderRegion(const Clip& clip) {
    if (!tRender || tRender->instance != clip.owner) {
        return std::nullopt;
    }
    if (!tRender->request) {
        return isOutput(clip) ? std::nullopt : tRender->sourceRegion;
    }
    const RenderRequest& r = *tRender->request;
    if (isOutput(clip)) {
        return r.outputRegionOfDefinition.value_or(
            canonical(tRender->output->format.bounds(), r.renderScale));
    }
    if (r.sourceRegionOfDefinition) {
        return r.sourceRegionOfDefinition;
    }
    if (tRender->source) {
        return canonical(tRender->source->format.bounds(), r.renderScale);
    }
    return std::nullopt;
}

}  // namespace

void* HostAccess::threadActionState() {
    return tRender;
}

void HostAccess::setThreadActionState(void* state) {
    tRender = static_cast<RenderState*>(state);
}

std::optional<OfxTime> HostAccess::actionTime(const Effect& effect) {
    if (tRender && tRender->instance == &effect) {
        return tRender->time;
    }
    return std::nullopt;
}

bool untouched(const Image& output, int x, int y) {
    for (int c = 0; c < output.components(); ++c) {
        const float v = output.at(x, y, c);
        if (output.depth() == BitDepth::float32 ? !std::isnan(v) : v != 1.0f) {
            return false;
        }
    }
    return true;
}

OfxStatus HostAccess::regionOfDefinition(Clip& clip, OfxTime, OfxRectD* bounds) {
    if (std::optional<OfxRectD> region = renderRegion(clip)) {
        *bounds = *region;
        return kOfxStatOK;
    }
    if (clip.regionOfDefinition) {
        *bounds = *clip.regionOfDefinition;
        return kOfxStatOK;
    }
    if (clip.image) {
        *bounds = canonical(clip.image->bounds(), {1.0, 1.0});
        return kOfxStatOK;
    }
    return kOfxStatFailed;
}

OfxStatus HostAccess::getImage(Clip& clip, OfxTime time, const OfxRectD*,
                               OfxPropertySetHandle* handle) {
    if (!clip.owner->isInstance()) {
        problem("clipGetImage on the descriptor clip " + clip.name);
        return kOfxStatErrBadHandle;
    }
    auto image = std::make_unique<FetchedImage>();
    image->instance = static_cast<Instance*>(clip.owner);
    image->clip = clip.name;
    OfxPointD scale{1.0, 1.0};
    std::string field = "OfxFieldNone";
    std::string premultiplication;
    if (tRender && tRender->instance == clip.owner && tRender->request) {
        image->buffer = isOutput(clip) ? tRender->output : tRender->source;
        scale = tRender->request->renderScale;
        field = tRender->request->field;
        if (image->buffer && !isOutput(clip)) {
            premultiplication = tRender->request->sourcePremultiplication.value_or(
                premultiplicationOf(image->buffer->format));
        }
        ++tRender->fetched;
    } else if (clip.image) {
        image->buffer = std::make_shared<ImageBuffer>(*clip.image, false, 0);
    }
    if (!image->buffer) {
        return kOfxStatFailed;
    }
    ImageBuffer& buffer = *image->buffer;
    if (premultiplication.empty()) {
        premultiplication = premultiplicationOf(buffer.format);
    }
    const OfxRectI b = buffer.format.bounds();
    OfxRectD rod{};
    if (regionOfDefinition(clip, time, &rod) != kOfxStatOK) {
        rod = canonical(b, scale);
    }
    const OfxRectI rodPixels = pixels(rod, scale);
    PropertySet& p = image->props;
    p.defineString(kOfxPropType, {kOfxTypeImage}, 1);
    p.defineString(kOfxImageEffectPropPixelDepth, {bitDepthName(buffer.format.depth())}, 1);
    p.defineString(
        kOfxImageEffectPropComponents,
        {buffer.format.components() == 4 ? kOfxImageComponentRGBA : kOfxImageComponentRGB}, 1);
    p.defineString(kOfxImageEffectPropPreMultiplication, {premultiplication}, 1);
    p.defineDouble(kOfxImageEffectPropRenderScale, {scale.x, scale.y}, 2);
    p.defineDouble(kOfxImagePropPixelAspectRatio, {1.0}, 1);
    p.definePointer(kOfxImagePropData, {buffer.pluginData()}, 1);
    p.defineInt(kOfxImagePropBounds, {b.x1, b.y1, b.x2, b.y2}, 4);
    p.defineInt(kOfxImagePropRegionOfDefinition,
                {rodPixels.x1, rodPixels.y1, rodPixels.x2, rodPixels.y2}, 4);
    p.defineInt(kOfxImagePropRowBytes, {buffer.rowBytes()}, 1);
    p.defineString(kOfxImagePropField, {field}, 1);
    p.defineString(kOfxImagePropUniqueIdentifier, {clip.name + "@" + std::to_string(time)}, 1);
    *handle = p.handle();
    std::lock_guard lock(imageTable().mutex);
    imageTable().images[&image->props] = std::move(image);
    return kOfxStatOK;
}

OfxStatus HostAccess::releaseImage(OfxPropertySetHandle handle) {
    std::unique_ptr<FetchedImage> image;
    {
        std::lock_guard lock(imageTable().mutex);
        auto it = imageTable().images.find(PropertySet::fromHandle(handle));
        if (it == imageTable().images.end() || !handle) {
            problem("clipReleaseImage of an image that is not outstanding (released twice?)");
            return kOfxStatErrBadHandle;
        }
        image = std::move(it->second);
        imageTable().images.erase(it);
    }
    return kOfxStatOK;
}

void HostAccess::forgetImages(Instance& instance) {
    std::lock_guard lock(imageTable().mutex);
    auto& images = imageTable().images;
    for (auto it = images.begin(); it != images.end();) {
        if (it->second->instance == &instance) {
            if (!it->second->reported) {
                problem("image of clip " + it->second->clip + " never released");
            }
            it = images.erase(it);
        } else {
            ++it;
        }
    }
}

int HostAccess::outstandingImages() {
    std::lock_guard lock(imageTable().mutex);
    return static_cast<int>(imageTable().images.size());
}

int TestHost::outstandingImages() const {
    return HostAccess::outstandingImages();
}

// ---- Render ---------------------------------------------------------------------------------

namespace {

void defineRenderModeArgs(PropertySet& in, const RenderRequest& r) {
    switch (r.mode) {
        case RenderMode::cpu:
            break;
        case RenderMode::openCL:
            in.defineInt(kOfxImageEffectPropOpenCLEnabled, {1}, 1);
            in.definePointer(kOfxImageEffectPropOpenCLCommandQueue, {r.openCLCommandQueue}, 1);
            break;
        case RenderMode::cuda:
            in.defineInt(kOfxImageEffectPropCudaEnabled, {1}, 1);
            in.definePointer(kOfxImageEffectPropCudaStream, {r.cudaStream}, 1);
            break;
        case RenderMode::openGL:
            in.defineInt(kOfxImageEffectPropOpenGLEnabled, {1}, 1);
            break;
        case RenderMode::metal:
            in.defineInt(kOfxImageEffectPropMetalEnabled, {1}, 1);
            break;
    }
}

void describeClipImage(Clip* clip, const std::optional<Image>& image, const RenderRequest& r) {
    if (!clip) {
        return;
    }
    clip->props.putInt(kOfxImageClipPropConnected, {image ? 1 : 0});
    if (!image) {
        return;
    }
    const char* components =
        image->components() == 4 ? kOfxImageComponentRGBA : kOfxImageComponentRGB;
    clip->props.putString(kOfxImageEffectPropPixelDepth, {bitDepthName(image->depth())});
    clip->props.putString(kOfxImageEffectPropComponents, {components});
    clip->props.putString(kOfxImageClipPropUnmappedPixelDepth, {bitDepthName(image->depth())});
    clip->props.putString(kOfxImageClipPropUnmappedComponents, {components});
    if (!isOutput(*clip)) {
        clip->props.putString(kOfxImageEffectPropPreMultiplication,
                              {r.sourcePremultiplication.value_or(premultiplicationOf(*image))});
    }
}

}  // namespace

RenderResult Instance::render(const RenderRequest& request) {
    const bool gpu = request.mode == RenderMode::openCL || request.mode == RenderMode::cuda;
    if (gpu && request.device && request.negativeRowBytes) {
        throw std::invalid_argument("GPU images have positive row bytes");
    }
    OfxRectI outputBounds = request.outputBounds;
    if (isEmpty(outputBounds) && request.source) {
        outputBounds = request.source->bounds();
    }
    OfxRectI window = isEmpty(request.renderWindow) ? outputBounds : request.renderWindow;

    // Output samples start as NaN (float) or the maximum (integer depths), values a grade
    // hardly ever writes, so unwritten pixels can be told apart afterwards.
    Image blank(request.outputDepth, request.outputComponents, outputBounds);
    const float sentinel =
        request.outputDepth == BitDepth::float32 ? std::numeric_limits<float>::quiet_NaN() : 1.0f;
    blank.fill(sentinel, sentinel, sentinel, sentinel);

    RenderState state;
    state.instance = this;
    state.request = &request;
    state.output =
        std::make_shared<ImageBuffer>(blank, request.negativeRowBytes, request.rowPadding);
    if (request.source) {
        state.source = std::make_shared<ImageBuffer>(*request.source, request.negativeRowBytes,
                                                     request.rowPadding);
    }
    const std::vector<unsigned char> sourceBefore =
        state.source ? state.source->storage : std::vector<unsigned char>{};
    if (gpu && request.device) {
        bool uploaded = true;
        for (ImageBuffer* buffer : {state.source.get(), state.output.get()}) {
            if (buffer) {
                buffer->deviceHandle = request.device->upload(
                    buffer->data(), buffer->storage.size() - 2 * kGuardBytes);
                uploaded = uploaded && buffer->deviceHandle != nullptr;
            }
        }
        // The plug-in would take the CPU address for device memory: it is not called.
        if (!uploaded) {
            for (ImageBuffer* buffer : {state.source.get(), state.output.get()}) {
                if (buffer && buffer->deviceHandle) {
                    request.device->release(buffer->deviceHandle);
                }
            }
            RenderResult failed;
            failed.status = kOfxStatErrMemory;
            failed.output = blank;
            return failed;
        }
    }
    describeClipImage(findClip(kOfxImageEffectOutputClipName), blank, request);
    for (const auto& clip : clips()) {
        if (!isOutput(*clip)) {
            describeClipImage(clip.get(), request.source, request);
        }
    }

    PropertySet inArgs;
    inArgs.defineDouble(kOfxPropTime, {request.time}, 1);
    inArgs.defineString(kOfxImageEffectPropFieldToRender, {request.field}, 1);
    inArgs.defineInt(kOfxImageEffectPropRenderWindow, {window.x1, window.y1, window.x2, window.y2},
                     4);
    inArgs.defineDouble(kOfxImageEffectPropRenderScale,
                        {request.renderScale.x, request.renderScale.y}, 2);
    inArgs.defineInt(kOfxImageEffectPropSequentialRenderStatus, {request.sequentialRender ? 1 : 0},
                     1);
    inArgs.defineInt(kOfxImageEffectPropInteractiveRenderStatus,
                     {request.interactiveRender ? 1 : 0}, 1);
    inArgs.defineInt("OfxImageEffectPropRenderQualityDraft", {0}, 1);
    defineRenderModeArgs(inArgs, request);
    if (request.adjustInArgs) {
        request.adjustInArgs(inArgs);
    }

    state.time = request.time;
    RenderResult result;
    RenderState* outer = tRender;
    tRender = &state;
    result.status = action(kOfxImageEffectActionRender, &inArgs);
    tRender = outer;

    if (state.output->deviceHandle &&
        !request.device->download(state.output->deviceHandle, state.output->data(),
                                  state.output->storage.size() - 2 * kGuardBytes) &&
        result.status == kOfxStatOK) {
        result.status = kOfxStatFailed;  // the picture never came back
    }
    // Device memory goes back now, while the test's DeviceMemory certainly still exists.
    for (ImageBuffer* buffer : {state.source.get(), state.output.get()}) {
        if (buffer && buffer->deviceHandle) {
            request.device->release(buffer->deviceHandle);
            buffer->deviceHandle = nullptr;
        }
    }
    result.output = state.output->pixels();
    result.imagesFetched = state.fetched;
    result.sourceChanged = state.source && state.source->storage != sourceBefore;
    result.paddingChanged = !state.output->guardsIntact();
    {
        std::lock_guard lock(imageTable().mutex);
        for (auto& entry : imageTable().images) {
            const FetchedImage* image = entry.second.get();
            const bool thisRender =
                image->buffer == state.output || (state.source && image->buffer == state.source);
            if (thisRender && !image->reported) {
                entry.second->reported = true;
                ++result.imagesNotReleased;
            }
        }
    }
    if (result.imagesNotReleased > 0) {
        HostAccess::problem(std::to_string(result.imagesNotReleased) +
                            " image(s) of a render not released");
    }
    if (result.sourceChanged) {
        HostAccess::problem("the plug-in wrote into the source image");
    }
    if (result.paddingChanged) {
        HostAccess::problem("the plug-in wrote outside the output image's rows");
    }
    return result;
}

RegionsOfInterestResult Instance::regionsOfInterest(const RegionsOfInterestRequest& request) {
    PropertySet inArgs;
    inArgs.defineDouble(kOfxPropTime, {request.time}, 1);
    inArgs.defineDouble(kOfxImageEffectPropRenderScale,
                        {request.renderScale.x, request.renderScale.y}, 2);
    const OfxRectD& r = request.region;
    inArgs.defineDouble(kOfxImageEffectPropRegionOfInterest, {r.x1, r.y1, r.x2, r.y2}, 4);
    PropertySet outArgs;
    for (const auto& clip : clips()) {
        if (!isOutput(*clip)) {
            outArgs.defineDouble(kOfxImageClipPropRoI + clip->name, {r.x1, r.y1, r.x2, r.y2}, 4);
        }
    }
    RenderState state;
    state.instance = this;
    state.time = request.time;
    if (request.sourceRegionOfDefinition) {
        state.sourceRegion = request.sourceRegionOfDefinition;
    } else if (Clip* source = findClip(kOfxImageEffectSimpleSourceClipName)) {
        OfxRectD region;
        if (HostAccess::regionOfDefinition(*source, request.time, &region) == kOfxStatOK) {
            state.sourceRegion = region;
        }
    }
    RegionsOfInterestResult result;
    RenderState* outer = tRender;
    tRender = &state;
    result.status = action(kOfxImageEffectActionGetRegionsOfInterest, &inArgs, &outArgs);
    tRender = outer;
    for (const auto& clip : clips()) {
        const std::string name = kOfxImageClipPropRoI + clip->name;
        if (!isOutput(*clip) && outArgs.dimension(name) == 4) {
            const std::vector<double> v = outArgs.reals(name);
            result.regions[clip->name] = {v[0], v[1], v[2], v[3]};
        }
    }
    return result;
}

}  // namespace vd::testhost
