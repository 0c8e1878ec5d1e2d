// The maker's web site and the pages of it that the plug-in opens.
//
// Owns: the site's base address (the build option VD_MAKER_SITE), the tracked page address
// rule, the product and contact page addresses.
// Does not own: opening a page (platform::openUrl) or the buttons that do it.
#pragma once

#include <string>
#include <string_view>

namespace vd {

// The base address, scheme and host, without a trailing "/".
std::string_view makerSite();

// base, then "&" when it already holds "?" else "?", then the tracking query with the
// campaign. Empty when base or campaign is empty.
std::string trackedPageUrl(std::string_view base, std::string_view campaign);

// The product page with the "more_info" campaign (the More Info button).
std::string moreInfoPageUrl();
// The contact page with its support query (the Support / Help button).
std::string supportPageUrl();

}  // namespace vd
