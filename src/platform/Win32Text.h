// Text conversion shared by the Win32 files of the platform layer.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vd::platform::win32 {

// UTF-8 to UTF-16; nothing for text that is not valid UTF-8 (a path that cannot be named
// is refused rather than turned into another path).
std::optional<std::wstring> widen(std::string_view text);

}  // namespace vd::platform::win32
