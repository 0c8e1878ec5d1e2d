// Test fixture that loads the built plug-in bundle in the project's test host, with the
// support directory in a fresh temporary folder and a recording `xdg-open` first on PATH.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TempEnv.h"
#include "TestHost.h"
#include "controls/Controls.h"
#include "looks/Catalogue.h"
#include "mylooks/Json.h"

namespace vd::test {

using testhost::HostProfile;
using testhost::Instance;
using testhost::TestHost;

// The number controls that a look keeps, by name (each saved under its own name): the ones
// Reset and Apply Look set.
inline std::vector<std::string> savedNumberControls() {
    std::vector<std::string> names;
    for (const ParamSpec& row : paramTable()) {
        if (row.kind == ParamKind::number && !row.savedKeys.empty()) {
            names.push_back(row.name);
        }
    }
    return names;
}

class HostFixture : public TempEnv {
  protected:
    void SetUp() override {
        // A stand-in browser opener that appends each address it is given to a file.
        const std::string bin = dir_ + "/bin";
        ASSERT_EQ(::mkdir(bin.c_str(), 0755), 0);
        writeFile(bin + "/xdg-open",
                  "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + dir_ + "/opened.txt'\n");
        ASSERT_EQ(::chmod((bin + "/xdg-open").c_str(), 0755), 0);
        const char* old = std::getenv("PATH");
        env_.emplace_back("PATH", bin + ":" + (old ? old : ""));
    }
    void TearDown() override { host_.reset(); }

    // Loads the bundle and creates one instance in the filter context.
    Instance& start(HostProfile profile = {}) {
        host_ = std::make_unique<TestHost>(VD_BUNDLE_DIR, profile);
        host_->setUp(kOfxImageEffectContextFilter);
        fx_ = &host_->createInstance(kOfxImageEffectContextFilter);
        return *fx_;
    }
    Instance& another() { return host_->createInstance(kOfxImageEffectContextFilter); }

    int secret(const std::string& param) const {
        return fx_->param(param).props.integer(kOfxParamPropSecret);
    }
    std::vector<std::string> menu() const {
        return fx_->param("savedLooks").props.strings(kOfxParamPropChoiceOption);
    }
    std::string status() const { return fx_->stringValue("myLooksStatus"); }
    // Types name into Look Name when one is given, presses the button, returns the status.
    std::string press(const char* button, const std::optional<std::string>& name = {}) {
        if (name) {
            fx_->setValue("lookName", *name);
        }
        EXPECT_EQ(fx_->pressButton(button), kOfxStatOK) << button;
        return status();
    }
    std::vector<std::string> opened() const {
        std::vector<std::string> lines;
        const std::string text = readFile(path("opened.txt"));
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            lines.push_back(text.substr(start, end - start));
        }
        return lines;
    }
    std::string myLooksFile() const { return path("MyLooks.json"); }
    void writeLooks(const std::vector<SavedLook>& looks) {
        writeFile(myLooksFile(), formatMyLooksText(looks));
    }
    static std::vector<SavedLook> namedLooks(int count, const std::string& prefix = "Look ") {
        std::vector<SavedLook> looks(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            looks[static_cast<std::size_t>(i)].name = prefix + std::to_string(i + 1);
        }
        return looks;
    }

    std::unique_ptr<TestHost> host_;
    Instance* fx_ = nullptr;
};

}  // namespace vd::test
