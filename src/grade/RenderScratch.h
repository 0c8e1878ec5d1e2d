// The working buffers of CPU renders, kept from one render to the next so that a steady
// stream of frames allocates, clears and page-faults nothing.
//
// Owns: RenderScratch (one per plug-in instance, or one per call where the caller has
// none) and its bounds: a render takes each buffer at the size it needs, buffers a render
// did not take are released when it finishes, so what is held never exceeds what the
// last render used; all of it is released when an allocation fails (and the allocation
// tried once more) or when the owner destroys it.
// Does not own: what the buffers hold (Grade.cpp) or which instance owns which scratch
// (the render action).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace vd {

enum class ScratchSlot : std::uint8_t {
    maskColour,   // halation mask region, RGB after saturation (then after halation)
    maskLevel,    // the quarter-resolution halation cover
    bloomColour,  // bloom region, RGB after halation, when halation is off
    bloomLevel0,  // quarter resolution, RGB
    bloomLevel1,  // sixteenth resolution, RGB
    effectWork,   // the reductions' and blurs' intermediate rows
    rows,         // per-band row conversion of the passes
    look,         // the look packed 4 floats per entry, when the caller gives it unpacked
    count
};

class RenderScratch {
  public:
    RenderScratch() = default;
    RenderScratch(const RenderScratch&) = delete;
    RenderScratch& operator=(const RenderScratch&) = delete;

    // At least n floats (64-byte aligned) in the slot, holding whatever was there before;
    // null when the memory cannot be had even after releasing everything else held.
    float* take(ScratchSlot slot, std::size_t n) noexcept;

    // Ends a render: slots it did not take are released.
    void finishRender() noexcept;

    void releaseAll() noexcept;

    std::size_t heldBytes() const noexcept;

    // Held by the render using the scratch; a render that finds it held uses a scratch of
    // its own instead (hosts may render one instance on several threads at once).
    std::mutex& inUse() noexcept { return inUse_; }

  private:
    struct Buffer {
        std::unique_ptr<float[]> owner;
        float* data = nullptr;  // aligned start within owner
        std::size_t floats = 0;
    };
    std::array<Buffer, static_cast<std::size_t>(ScratchSlot::count)> buffers_;
    std::uint32_t taken_ = 0;
    std::mutex inUse_;
};

}  // namespace vd
