#include "grade/RenderScratch.h"

#include <cstdint>
#include <new>

namespace vd {

namespace {

// Floats of slack for the 64-byte alignment of a buffer's start.
constexpr std::size_t kAlignFloats = 16;

// Default-initialised floats: nothing is written until a pass writes its values.
bool allocate(std::unique_ptr<float[]>& owner, float*& data, std::size_t n) noexcept {
    owner.reset(new (std::nothrow) float[n + kAlignFloats]);
    if (!owner) {
        data = nullptr;
        return false;
    }
    const auto address = reinterpret_cast<std::uintptr_t>(owner.get());
    const std::uintptr_t aligned = (address + 63u) & ~std::uintptr_t{63u};
    data = owner.get() + (aligned - address) / sizeof(float);
    return true;
}

}  // namespace

float* RenderScratch::take(ScratchSlot slot, std::size_t n) noexcept {
    const auto index = static_cast<std::size_t>(slot);
    Buffer& b = buffers_[index];
    taken_ |= 1u << index;
    if (n <= b.floats && b.data != nullptr) {
        return b.data;
    }
    b.owner.reset();
    b.data = nullptr;
    b.floats = 0;
    if (n > SIZE_MAX / sizeof(float) - kAlignFloats) {
        return nullptr;
    }
    if (!allocate(b.owner, b.data, n)) {
        // Memory is short: give back everything this scratch holds that the render has
        // not taken yet, then try once more.
        for (std::size_t i = 0; i < buffers_.size(); ++i) {
            if ((taken_ & (1u << i)) == 0) {
                buffers_[i] = Buffer{};
            }
        }
        if (!allocate(b.owner, b.data, n)) {
            return nullptr;
        }
    }
    b.floats = n;
    return b.data;
}

void RenderScratch::finishRender() noexcept {
    for (std::size_t i = 0; i < buffers_.size(); ++i) {
        if ((taken_ & (1u << i)) == 0) {
            buffers_[i] = Buffer{};
        }
    }
    taken_ = 0;
}

void RenderScratch::releaseAll() noexcept {
    for (Buffer& b : buffers_) {
        b = Buffer{};
    }
    taken_ = 0;
}

std::size_t RenderScratch::heldBytes() const noexcept {
    std::size_t total = 0;
    for (const Buffer& b : buffers_) {
        total += b.floats * sizeof(float);
    }
    return total;
}

}  // namespace vd
