// The project's own OpenFX host, for tests and the command-line tool.
//
// Owns: loading a plug-in bundle as a host does (the bundle folder, the .ofx library inside
// Contents/<arch>, OfxGetPlugin, setHost / OfxSetHost), the in-memory property, parameter,
// image-effect and multi-thread suites, host profiles that leave features out, and helpers
// that run actions and let tests look at everything the plug-in defined, wrote and rendered.
// Does not own: any GPU API. GPU render modes hand the plug-in whatever queue or stream the
// caller gives, and image memory goes through the caller's DeviceMemory when it gives one
// (OpenClDevice.h is one, on a real OpenCL runtime).
//
// Typical use:
//
//     vd::testhost::TestHost host(bundleDir);                 // dlopen, setHost
//     host.setUp(kOfxImageEffectContextFilter);               // load, describe, in context
//     const Param& exposure = host.context(kOfxImageEffectContextFilter).param("exposure");
//     EXPECT_EQ(exposure.props.real(kOfxParamPropDefault), 0.0);
//     Instance& fx = host.createInstance(kOfxImageEffectContextFilter);
//     fx.userEdit("footage", 4);                              // as the user picks a menu entry
//     EXPECT_EQ(fx.param("lutDLog").props.integer(kOfxParamPropSecret), 0);
//     RenderRequest request;
//     request.source = Image(BitDepth::float32, 4, {0, 0, 64, 32});
//     request.outputBounds = {0, 0, 64, 32};
//     RenderResult result = fx.render(request);
//     EXPECT_EQ(result.status, kOfxStatOK);
//     EXPECT_TRUE(host.problems().empty());                   // every image released ...
//
// One TestHost may exist at a time in a process: the C suites cannot tell hosts apart.
// Every call into the plug-in is guarded: an exception escaping the plug-in is recorded in
// problems() and the call returns kOfxStatErrFatal; a crash prints the action it happened in
// before the process dies, so the failing test names the action.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "Image.h"
#include "PropertySet.h"
#include "ofx/OfxApi.h"

namespace vd::testhost {

class TestHost;
class Effect;
class Instance;
class ThreadPool;

// ---- Profiles -------------------------------------------------------------------------------

// What the host offers. The default is a complete host with 4 worker threads.
struct HostProfile {
    bool propertySuite = true;
    bool imageEffectSuite = true;
    bool parameterSuite = true;
    bool multiThreadSuite = true;
    // The property suite's propSetStringN / propSetIntN entries (null when false).
    bool propSetStringN = true;
    bool propSetIntN = true;
    // multiThread returns kOfxStatFailed without running the function; the rest of the
    // multi-thread suite works.
    bool multiThreadFails = false;
    // Worker threads of the pool; also what multiThreadNumCPUs reports.
    unsigned threads = 4;
    // On instances the number of OfxParamPropChoiceOption values is the one the plug-in gave
    // at describe time: propSetStringN with another count is refused (kOfxStatErrValue) and so
    // is a propSetString past the end (kOfxStatErrBadIndex). Relabelling in place works.
    // When false the options can be replaced freely.
    bool fixedChoiceOptions = false;
    // The plug-in's own writes to an instance's parameters (values and properties) are
    // reported back to it at once, on the writing thread, as "OfxActionInstanceChanged" with
    // the reason "OfxChangePluginEdited", as real hosts do.
    bool reportPluginEdits = true;
    // The plug-in's update check, through host properties that only this host defines: the
    // service's base address ("": no check at all, so that tests never reach the network
    // unless they ask), a PEM file of certificates it trusts, and its time scale (0: the
    // plug-in's own).
    std::string updateService;
    std::string updateCaFile;
    int updateTimeScale = 0;
    // The destructor closes the plug-in library (dlclose), as hosts that drop unused
    // plug-ins do; by default it stays loaded until the process ends.
    bool closeLibrary = false;
    // The host's name (OfxPropName of the host property set).
    std::string hostName = "com.vandrel.testhost";
    // Called with every problem the host notices (see TestHost::problems), on the thread that
    // noticed it. A test can make each one a failure at once:
    //     profile.onProblem = [](const std::string& p) { ADD_FAILURE() << p; };
    std::function<void(const std::string&)> onProblem;
};

// ---- Parameters -----------------------------------------------------------------------------

enum class ParamKind { integer, real, boolean, choice, rgb, string, pushButton, group, page };
const char* paramKindName(ParamKind kind);

struct Rgb {
    double r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Rgb& rgb);

// A parameter value as the parameter suite passes it: int for integer, choice and boolean
// parameters, double for doubles, Rgb for colours, text for strings, nothing for buttons,
// groups and pages. Numbers convert between int and double when written.
using ParamValue = std::variant<std::monostate, int, double, Rgb, std::string>;
std::string toString(const ParamValue& value);

class Param {
  public:
    std::string name;
    std::string type;  // the OpenFX type string, e.g. "OfxParamTypeDouble"
    ParamKind kind = ParamKind::real;
    // Every property the host and the plug-in set, with its type and values.
    PropertySet props;
    Effect* owner = nullptr;

    OfxParamHandle handle() { return reinterpret_cast<OfxParamHandle>(this); }
    // The value at the owner's current time (for descriptors: the default).
    ParamValue value() const;
    ParamValue valueAt(OfxTime time) const;
    // Times of the animation keys, in order (empty when the value is constant).
    std::vector<OfxTime> keyTimes() const;

  private:
    friend class TestHost;
    friend class Effect;
    friend class Instance;
    friend struct HostAccess;
    ParamValue fromNumbers(const std::vector<double>& numbers) const;
    std::vector<double> numbersAt(OfxTime time) const;

    std::vector<double> numbers_;  // constant value of number kinds
    std::string text_;             // value of strings
    std::map<OfxTime, std::vector<double>> keys_;
};

// ---- Clips ----------------------------------------------------------------------------------

class Clip {
  public:
    std::string name;
    PropertySet props;
    Effect* owner = nullptr;

    OfxImageClipHandle handle() { return reinterpret_cast<OfxImageClipHandle>(this); }

    // Instances only: what clipGetImage and clipGetRegionOfDefinition hand out. No image:
    // clipGetImage returns kOfxStatFailed. No region: the image's bounds (divided by the
    // render scale), or kOfxStatFailed without an image.
    std::optional<Image> image;
    std::optional<OfxRectD> regionOfDefinition;
};

// ---- Effects: the plug-in descriptor, context descriptors and instances ---------------------

class Effect {
  public:
    virtual ~Effect();
    OfxImageEffectHandle handle() { return reinterpret_cast<OfxImageEffectHandle>(this); }
    bool isInstance() const { return instance_; }
    // The context ("" for the plug-in descriptor of the describe action).
    const std::string& context() const { return context_; }

    PropertySet props;
    PropertySet paramSetProps;  // the parameter set's own property set

    // Parameters in the order the plug-in defined them. param() throws std::out_of_range
    // naming the parameter when there is none.
    const std::vector<std::unique_ptr<Param>>& params() const { return params_; }
    std::vector<std::string> paramNames() const;
    bool hasParam(const std::string& name) const;
    Param& param(const std::string& name);
    const Param& param(const std::string& name) const;
    Param* findParam(const std::string& name);

    const std::vector<std::unique_ptr<Clip>>& clips() const { return clips_; }
    std::vector<std::string> clipNames() const;
    Clip& clip(const std::string& name);
    Clip* findClip(const std::string& name);

    // The host's current time for this effect: paramGetValue and paramSetValue act at it,
    // except inside a render or regions-of-interest call, which act at that call's time.
    OfxTime time = 0;

    // paramEditBegin and paramEditEnd calls in order: "begin <name>" and "end".
    std::vector<std::string> editHistory() const;

  protected:
    Effect(TestHost& host, std::string context, bool instance);

  private:
    friend class TestHost;
    friend class Param;
    friend class Instance;
    friend struct HostAccess;
    TestHost& host_;
    std::string context_;
    bool instance_;
    std::vector<std::unique_ptr<Param>> params_;
    std::vector<std::unique_ptr<Clip>> clips_;
    std::vector<std::string> editBlocks_;  // open paramEditBegin names
    std::vector<std::string> editHistory_;
    mutable std::recursive_mutex valueMutex_;
};

// ---- Writes and reports ---------------------------------------------------------------------

// One write of the plug-in to an instance's parameter, through the parameter suite (a value)
// or the property suite (a property of the parameter).
struct ParamWrite {
    std::string param;
    std::string property;         // empty for a value write
    ParamValue value;             // value writes: the value written
    std::string propertyValue;    // property writes: the property afterwards (valueText)
    std::optional<OfxTime> time;  // paramSetValueAtTime
    std::thread::id thread;
};
std::ostream& operator<<(std::ostream& out, const ParamWrite& write);

// One action the host sent, with what the plug-in returned.
struct ActionRecord {
    std::string action;
    const void* handle = nullptr;
    std::string name;    // "OfxPropName" of the inArgs (instance changes), else empty
    std::string reason;  // "OfxPropChangeReason" of the inArgs, else empty
    OfxStatus status = kOfxStatOK;
    std::thread::id thread;
    int depth = 0;  // 0 for a call from the test, 1 and more for calls made while inside one
};

// ---- Rendering ------------------------------------------------------------------------------

enum class RenderMode { cpu, openCL, cuda, openGL, metal };

// Moves images to and from a GPU API for the GPU render modes. Before the render the host
// uploads the source and the output (the output holding the unwritten mark); the handle
// upload returns is what the plug-in sees as OfxImagePropData (a cl_mem, a device address).
// After the render the host downloads the output and releases both. When an upload yields
// null the plug-in is not called and the render fails with kOfxStatErrMemory; a failed
// download turns a successful render into kOfxStatFailed.
class DeviceMemory {
  public:
    virtual ~DeviceMemory() = default;
    virtual void* upload(const void* data, std::size_t bytes) = 0;
    // Waits for the render's queue or stream, then copies the device image back.
    virtual bool download(void* handle, void* data, std::size_t bytes) = 0;
    virtual void release(void* handle) = 0;
};

struct RenderRequest {
    OfxTime time = 0;
    std::string field = "OfxFieldNone";
    OfxPointD renderScale{1.0, 1.0};
    // The source image, or none: the source clip then returns kOfxStatFailed from clipGetImage.
    std::optional<Image> source;
    BitDepth outputDepth = BitDepth::float32;
    int outputComponents = 4;
    // Bounds of the output image; empty: the source's bounds.
    OfxRectI outputBounds{0, 0, 0, 0};
    // Window to render; empty: the output bounds.
    OfxRectI renderWindow{0, 0, 0, 0};
    // Memory layout of every image the plug-in fetches: rows bottom-up with positive row
    // bytes, or top-down with negative ones; extra bytes at the end of every row.
    bool negativeRowBytes = false;
    int rowPadding = 0;
    // Regions of definition in canonical coordinates; none: the image bounds / render scale.
    std::optional<OfxRectD> sourceRegionOfDefinition;
    std::optional<OfxRectD> outputRegionOfDefinition;
    // The premultiplication the source clip and image report (from source->premultiplied
    // when not given).
    std::optional<std::string> sourcePremultiplication;
    RenderMode mode = RenderMode::cpu;
    void* openCLCommandQueue = nullptr;  // OpenCL mode
    void* cudaStream = nullptr;          // CUDA mode; null is the default stream
    DeviceMemory* device = nullptr;      // GPU modes; none: images stay in CPU memory
    bool sequentialRender = false;
    bool interactiveRender = false;
    // Last say over the render action's inArgs, for properties the fields above do not cover
    // (for example OfxImageEffectPropNoSpatialAwareness "true").
    std::function<void(PropertySet& inArgs)> adjustInArgs;
};

struct RenderResult {
    OfxStatus status = kOfxStatOK;
    // The output image after the render; pixels the plug-in did not write keep their
    // initial value, which is NaN for float and the maximum (white, opaque) for 8- and
    // 16-bit images, so a test can tell written from unwritten pixels (for integer depths,
    // as long as the plug-in does not write pure white).
    Image output;
    int imagesFetched = 0;
    int imagesNotReleased = 0;
    bool sourceChanged = false;   // the plug-in wrote into the source image
    bool paddingChanged = false;  // the plug-in wrote into row padding or past the rows
};

// True when every sample of the output pixel (x, y) still holds the host's initial value.
bool untouched(const Image& output, int x, int y);

struct RegionsOfInterestRequest {
    OfxTime time = 0;
    OfxPointD renderScale{1.0, 1.0};
    OfxRectD region{0, 0, 0, 0};  // the output region the host wants, canonical coordinates
    std::optional<OfxRectD> sourceRegionOfDefinition;  // else the source clip's
};

struct RegionsOfInterestResult {
    OfxStatus status = kOfxStatOK;
    // "OfxImageClipPropRoI_<clip>" of every input clip after the call (each starts as the
    // requested region, as hosts prefill them).
    std::map<std::string, OfxRectD> regions;
};

// ---- Instances ------------------------------------------------------------------------------

class Instance : public Effect {
  public:
    ~Instance() override;

    // The value of a parameter at the current time (throws std::out_of_range for an unknown
    // name; for a kind without that value type, std::bad_variant_access).
    ParamValue value(const std::string& name) const;
    int intValue(const std::string& name) const;
    double doubleValue(const std::string& name) const;
    Rgb rgbValue(const std::string& name) const;
    std::string stringValue(const std::string& name) const;

    // Sets a value as a project load would: no action is sent, nothing is recorded.
    void setValue(const std::string& name, const ParamValue& value);
    // Sets a key at a time (animated number parameters).
    void setValueAtTime(const std::string& name, OfxTime time, const ParamValue& value);

    // A user edit at a time (which becomes the instance's current time): sets the value, then
    // sends "OfxActionBeginInstanceChanged", "OfxActionInstanceChanged" (reason
    // "OfxChangeUserEdited") and "OfxActionEndInstanceChanged". Returns the status of the
    // instance-changed action.
    OfxStatus userEdit(const std::string& name, const ParamValue& value, OfxTime at = 0);
    // A button press: the same bracket of actions, without a value.
    OfxStatus pressButton(const std::string& name, OfxTime at = 0);
    // Sends one "OfxActionInstanceChanged" for a parameter with the given reason.
    OfxStatus instanceChanged(const std::string& name, const std::string& reason, OfxTime at = 0);

    RenderResult render(const RenderRequest& request);
    RegionsOfInterestResult regionsOfInterest(const RegionsOfInterestRequest& request);

    // Runs any action on this instance with the given arguments (either may be null).
    OfxStatus action(const char* name, PropertySet* inArgs = nullptr,
                     PropertySet* outArgs = nullptr);

    // Parameter writes the plug-in made on this instance, in order.
    std::vector<ParamWrite> writes() const;
    void clearWrites();

  private:
    friend class TestHost;
    friend struct HostAccess;
    Instance(TestHost& host, std::string context);
    mutable std::mutex writesMutex_;
    std::vector<ParamWrite> writes_;
};

// ---- The host -------------------------------------------------------------------------------

class TestHost {
  public:
    // Opens the bundle folder (".../Name.ofx.bundle"), loads Contents/Linux-x86-64/Name.ofx
    // and hands the host to the plug-in: setHost of plug-in 0 and OfxSetHost when exported.
    // Throws std::runtime_error when the library, its exports or plug-in 0 cannot be had, or
    // when another TestHost exists.
    explicit TestHost(const std::string& bundleDir, HostProfile profile = {});
    // Destroys the instances left, sends "OfxActionUnload" after a successful load, unloads.
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    const HostProfile& profile() const { return profile_; }
    const std::string& libraryPath() const { return libraryPath_; }
    PropertySet& hostProperties() { return hostProps_; }

    // The plug-in record and the raw exports.
    const OfxPlugin& plugin() const { return *plugin_; }
    int numberOfPlugins() const;
    OfxPlugin* pluginAt(int index) const;  // OfxGetPlugin
    bool exportsSetHost() const { return ofxSetHost_ != nullptr; }

    // Actions on the plug-in; each returns the plug-in's status.
    OfxStatus load();
    OfxStatus unload();
    OfxStatus describe();
    OfxStatus describeInContext(const std::string& context);
    // load, describe and describeInContext; throws std::runtime_error naming the action that
    // did not return kOfxStatOK.
    void setUp(const std::string& context);

    // The plug-in descriptor of the describe action, and the descriptor of a context after
    // describeInContext (throws std::out_of_range before).
    Effect& descriptor() { return *descriptor_; }
    Effect& context(const std::string& context);

    // Creates an instance of a described context and sends "OfxActionCreateInstance".
    // With status given, the plug-in's status goes there; without, a status other than
    // kOfxStatOK throws std::runtime_error. The instance lives until destroyInstance or the
    // host's end.
    Instance& createInstance(const std::string& context, OfxStatus* status = nullptr);
    OfxStatus destroyInstance(Instance& instance);
    const std::vector<std::unique_ptr<Instance>>& instances() const { return instances_; }

    // Runs any action on the plug-in with the given handle and arguments.
    OfxStatus callAction(const char* action, const void* handle, PropertySet* inArgs,
                         PropertySet* outArgs);

    // Everything the host noticed the plug-in doing wrong: unknown handles, images not
    // released or released twice, exceptions escaping the plug-in, writes past images.
    std::vector<std::string> problems() const;
    void clearProblems();
    // Every action sent, in the order they were sent.
    std::vector<ActionRecord> actions() const;
    void clearActions();
    // Images fetched and not yet released, over all instances.
    int outstandingImages() const;

    // The suites as the plug-in receives them (null for those the profile leaves out).
    const void* fetchSuite(const char* name, int version) const;

  private:
    friend class Instance;
    friend struct HostAccess;
    void addProblem(std::string problem);

    HostProfile profile_;
    std::string libraryPath_;
    void* library_ = nullptr;
    int (*ofxGetNumberOfPlugins_)() = nullptr;
    OfxPlugin* (*ofxGetPlugin_)(int) = nullptr;
    OfxStatus (*ofxSetHost_)(const OfxHost*) = nullptr;
    OfxPlugin* plugin_ = nullptr;
    OfxHost ofxHost_{};
    PropertySet hostProps_;
    bool loaded_ = false;
    std::unique_ptr<ThreadPool> pool_;
    struct Suites;
    Suites* suites_ = nullptr;  // kept for the process's lifetime (see TestHost.cpp)

    std::unique_ptr<Effect> descriptor_;
    std::map<std::string, std::unique_ptr<Effect>> contexts_;
    std::vector<std::unique_ptr<Instance>> instances_;

    mutable std::mutex logMutex_;
    std::vector<std::string> problems_;
    std::vector<ActionRecord> actions_;
};

}  // namespace vd::testhost
