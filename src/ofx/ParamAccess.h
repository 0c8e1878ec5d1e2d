// Reading one instance's parameters and writing them only when the value differs.
//
// Owns: fetching an instance's parameter set and the set-if-changed writes of doubles,
// colours, integers and booleans, strings and the OfxParamPropSecret property. Writing only
// on change keeps the host's undo history and change notifications to what really changed.
// Also the prologue every parameter-writing handler shares: the edit guard plus access.
// Does not own: which parameters a handler touches.
// A missing suite function, an unknown parameter or a refused call reads as "no value" and
// makes a write a no-op; nothing here throws except std::bad_alloc.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "ofx/OfxApi.h"
#include "ofx/Plugin.h"

namespace vd {

struct ParamAccess {
    const OfxParameterSuiteV1* param = nullptr;
    const OfxPropertySuiteV1* property = nullptr;
    OfxParamSetHandle set = nullptr;
};

// The instance's parameter set through the host's suites; nothing when the instance is null,
// a suite is missing or getParamSet fails.
std::optional<ParamAccess> paramAccess(OfxImageEffectHandle instance);

// The edit guard and parameter access of one handler that changes an instance's parameters.
// params() is empty when this thread is already editing the instance (a re-entered call,
// which must do nothing) or when its parameters cannot be reached.
class InstanceEdit {
  public:
    explicit InstanceEdit(OfxImageEffectHandle instance) : guard_(instance) {
        if (!guard_.reentered()) {
            access_ = paramAccess(instance);
        }
    }
    const std::optional<ParamAccess>& params() const { return access_; }

  private:
    EditGuard guard_;
    std::optional<ParamAccess> access_;
};

OfxParamHandle paramHandle(const ParamAccess& p, const char* name);
OfxPropertySetHandle paramProperties(const ParamAccess& p, const char* name);

std::optional<int> getIntParam(const ParamAccess& p, const char* name);
std::optional<double> getDoubleParam(const ParamAccess& p, const char* name);
std::optional<std::array<double, 3>> getRgbParam(const ParamAccess& p, const char* name);
std::optional<std::string> getStringParam(const ParamAccess& p, const char* name);

// The value at a time (paramGetValueAtTime), as the render and regions of interest read it.
std::optional<int> getIntParamAt(const ParamAccess& p, const char* name, double time);
std::optional<double> getDoubleParamAt(const ParamAccess& p, const char* name, double time);
std::optional<std::array<double, 3>> getRgbParamAt(const ParamAccess& p, const char* name,
                                                   double time);

void setIntIfChanged(const ParamAccess& p, const char* name, int value);
void setDoubleIfChanged(const ParamAccess& p, const char* name, double value);
void setRgbIfChanged(const ParamAccess& p, const char* name, const std::array<double, 3>& value);
// A null value writes nothing.
void setStringIfChanged(const ParamAccess& p, const char* name, const char* value);
void setSecretIfChanged(const ParamAccess& p, const char* name, bool secret);

// paramEditBegin / paramEditEnd around a scope, when the host has them.
class ParamEditBlock {
  public:
    ParamEditBlock(const ParamAccess& p, const char* name);
    ~ParamEditBlock();
    ParamEditBlock(const ParamEditBlock&) = delete;
    ParamEditBlock& operator=(const ParamEditBlock&) = delete;

  private:
    const ParamAccess& p_;
    bool open_ = false;
};

}  // namespace vd
