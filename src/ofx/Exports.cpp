// The three C functions a host looks up in the bundle's library. Only the bundle target
// compiles this file; the linker's version script keeps every other symbol local.
#include "ofx/Plugin.h"

#define VD_EXPORT extern "C" __attribute__((visibility("default")))

VD_EXPORT int OfxGetNumberOfPlugins(void) {
    return 1;
}

VD_EXPORT OfxPlugin* OfxGetPlugin(int nth) {
    return nth == 0 ? vd::pluginRecord() : nullptr;
}

VD_EXPORT OfxStatus OfxSetHost(OfxHost* host) {
    vd::setHost(host);
    return kOfxStatOK;
}
