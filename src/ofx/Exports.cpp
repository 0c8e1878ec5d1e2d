// The three C functions a host looks up in the bundle's library. Only the bundle target
// compiles this file; the linker's version script (on Windows, the dllexport marks)
// keeps every other symbol out of the export table.
#include "ofx/Plugin.h"

#if defined(_WIN32)
#define VD_EXPORT extern "C" __declspec(dllexport)
#else
#define VD_EXPORT extern "C" __attribute__((visibility("default")))
#endif

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
