// Feeds arbitrary bytes to the My Looks reader. Whatever parses must write out and read
// back to the same looks; the reader must neither crash nor recurse without bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mylooks/Json.h"
#include "update/UpdateState.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)vd::parseUpdateStateText(text);
    const vd::ParsedMyLooks parsed = vd::parseMyLooksText(text);
    if (!parsed.ok) {
        return 0;
    }
    // The writer's output always reads back, and writing what was read changes nothing.
    const std::string written = vd::formatMyLooksText(parsed.looks);
    const vd::ParsedMyLooks again = vd::parseMyLooksText(written);
    if (!again.ok || !again.hasLooks || again.schema != 1 ||
        vd::formatMyLooksText(again.looks) != written) {
        std::abort();
    }
    return 0;
}
