#include "update/MakerSite.h"

#ifndef VD_MAKER_SITE
#error "VD_MAKER_SITE must be defined by the build"
#endif

namespace vd {

namespace {

std::string withQuery(std::string_view base, std::string_view query) {
    std::string url(base);
    url.push_back(url.find('?') == std::string::npos ? '?' : '&');
    url.append(query);
    return url;
}

}  // namespace

std::string_view makerSite() {
    std::string_view site = VD_MAKER_SITE;
    while (!site.empty() && site.back() == '/') {
        site.remove_suffix(1);
    }
    return site;
}

std::string trackedPageUrl(std::string_view base, std::string_view campaign) {
    if (base.empty() || campaign.empty()) {
        return {};
    }
    return withQuery(base, "utm_source=resolve-plugin&utm_medium=plugin&utm_campaign=") +
           std::string(campaign);
}

std::string moreInfoPageUrl() {
    return trackedPageUrl(
        std::string(makerSite()) + "/products/vandrel-huebench-for-davinci-resolve", "more_info");
}

std::string supportPageUrl() {
    return withQuery(std::string(makerSite()) + "/pages/contact",
                     "utm_source=huebench&utm_medium=plugin&utm_campaign=support");
}

}  // namespace vd
