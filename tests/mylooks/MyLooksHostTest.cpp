// My Looks end to end through the built plug-in: the four buttons, choosing an entry, the
// saved-looks menu in both menu modes and on hosts without propSetStringN.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "HostFixture.h"
#include "controls/Controls.h"
#include "mylooks/Store.h"

namespace vd::test {
namespace {

using testhost::Rgb;

class MyLooks : public HostFixture {
  protected:
    MyLooksDocument stored() const {
        MyLooksDocument doc;
        ParsedMyLooks parsed = parseMyLooksText(readFile(myLooksFile()));
        EXPECT_TRUE(parsed.ok);
        doc.looks = parsed.looks;
        return doc;
    }
    std::vector<std::string> storedNames() const {
        std::vector<std::string> names;
        for (const SavedLook& look : stored().looks) {
            names.push_back(look.name);
        }
        return names;
    }
};

// Every field of a look set to a value no default has.
SavedLook distinctLook(const std::string& name) {
    SavedLook look;
    look.name = name;
    look.pack = 3;
    look.lut = 7;
    const std::vector<std::string> controls = savedNumberControls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        look.*savedLookField(controls[i]) = 0.25 + static_cast<double>(i);
    }
    look.borderRed = 0.125;
    look.borderGreen = 0.5;
    look.borderBlue = 0.875;
    return look;
}

TEST_F(MyLooks, SaveWithoutANameMakesMyLookNAndSelectsIt) {
    Instance& fx = start();
    EXPECT_EQ(menu(), std::vector<std::string>{"No saved looks"});
    EXPECT_EQ(press("saveLook"), "Saved My Look 1.");
    EXPECT_EQ(fx.stringValue("lookName"), "My Look 1");
    EXPECT_EQ(fx.intValue("savedLooks"), 0);
    EXPECT_EQ(menu(), std::vector<std::string>{"My Look 1"});
    EXPECT_EQ(storedNames(), std::vector<std::string>{"My Look 1"});

    // The field now holds the name, so a second save replaces the same look.
    fx.setValue("exposure", 1.5);
    EXPECT_EQ(press("saveLook"), "Replaced My Look 1.");
    ASSERT_EQ(stored().looks.size(), 1u);
    EXPECT_EQ(stored().looks[0].exposure, 1.5);

    // An empty field again: the next free number; a typed name is cleaned but left as typed.
    EXPECT_EQ(press("saveLook", "  "), "Saved My Look 2.");
    EXPECT_EQ(press("saveLook", "  Warm\t\tSunset "), "Saved Warm Sunset.");
    EXPECT_EQ(fx.stringValue("lookName"), "  Warm\t\tSunset ");
    EXPECT_EQ(fx.intValue("savedLooks"), 2);
    EXPECT_EQ(menu(), (std::vector<std::string>{"My Look 1", "My Look 2", "Warm Sunset"}));

    // Saving over the first one selects it again and keeps the order.
    EXPECT_EQ(press("saveLook", "My Look 1"), "Replaced My Look 1.");
    EXPECT_EQ(fx.intValue("savedLooks"), 0);
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"My Look 1", "My Look 2", "Warm Sunset"}));
    EXPECT_TRUE(host_->problems().empty());
    EXPECT_EQ(readFile(path("debug.log")), "saved-looks menu: dynamic\n");
}

TEST_F(MyLooks, CaptureAndApplyCarryEveryField) {
    Instance& fx = start();
    const SavedLook wanted = distinctLook("Everything");
    fx.setValue("footage", wanted.pack);
    fx.setValue(packLutParam(wanted.pack), wanted.lut);
    fx.setValue(packLutParam(4), 2);  // another pack's look is not part of it
    for (const std::string& control : savedNumberControls()) {
        fx.setValue(control, wanted.*savedLookField(control));
    }
    fx.setValue("borderColour", Rgb{wanted.borderRed, wanted.borderGreen, wanted.borderBlue});
    fx.setValue("splitScreen", 1);
    press("saveLook", wanted.name);
    ASSERT_EQ(stored().looks.size(), 1u);
    EXPECT_EQ(stored().looks[0], wanted);
    host_.reset();

    // A fresh instance at its defaults takes every field from the file.
    Instance& other = start();
    other.setValue("savedLooks", 0);
    other.clearWrites();
    EXPECT_EQ(press("applyLook"), "Applied Everything.");
    EXPECT_EQ(other.intValue("footage"), wanted.pack);
    EXPECT_EQ(other.intValue(packLutParam(wanted.pack)), wanted.lut);
    for (const std::string& control : savedNumberControls()) {
        EXPECT_EQ(other.doubleValue(control), wanted.*savedLookField(control)) << control;
    }
    EXPECT_EQ(other.rgbValue("borderColour"),
              (Rgb{wanted.borderRed, wanted.borderGreen, wanted.borderBlue}));
    EXPECT_EQ(other.intValue("splitScreen"), 0);
    EXPECT_EQ(secret(packLutParam(wanted.pack)), 0);  // the pack's controls show
    const std::vector<std::string> history = other.editHistory();
    EXPECT_NE(std::find(history.begin(), history.end(), "begin Apply Look"), history.end());
    // Applying again changes nothing, so nothing is written.
    other.clearWrites();
    other.pressButton("applyLook");
    for (const auto& w : other.writes()) {
        EXPECT_EQ(w.param, "myLooksStatus") << w;
    }
    EXPECT_TRUE(host_->problems().empty());
}

TEST_F(MyLooks, ApplyTakesAPackOutsideTheCatalogueAsNoPack) {
    SavedLook odd = distinctLook("Odd pack");
    odd.pack = 99;
    odd.lut = 4;
    writeLooks({odd});
    Instance& fx = start();
    fx.setValue("footage", 2);
    EXPECT_EQ(press("applyLook"), "Applied Odd pack.");
    EXPECT_EQ(fx.intValue("footage"), 0);
    EXPECT_EQ(fx.intValue(packLutParam(0)), 4);

    fx.setValue("savedLooks", 1);  // past the list
    EXPECT_EQ(press("applyLook"), "No look to apply.");
}

TEST_F(MyLooks, RenameAndItsRefusals) {
    Instance& fx = start();
    // An invalid choice wins over an empty name.
    EXPECT_EQ(press("renameLook", "   "), "No look to rename.");

    writeLooks(namedLooks(3));
    fx.userEdit("savedLooks", 1);  // choosing copies the name into Look Name
    EXPECT_EQ(fx.stringValue("lookName"), "Look 2");
    EXPECT_EQ(press("renameLook"), "Renamed to Look 2.");  // its own name is fine
    EXPECT_EQ(press("renameLook", " \t "), "Type a name, then Rename.");
    EXPECT_EQ(press("renameLook", "Look 3"), "That name is already used.");
    EXPECT_EQ(press("renameLook", "  Cool\nBlue  "), "Renamed to Cool Blue.");
    EXPECT_EQ(fx.intValue("savedLooks"), 1);
    EXPECT_EQ(fx.stringValue("lookName"), "  Cool\nBlue  ");
    EXPECT_EQ(menu(), (std::vector<std::string>{"Look 1", "Cool Blue", "Look 3"}));
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"Look 1", "Cool Blue", "Look 3"}));
}

TEST_F(MyLooks, DeleteMovesTheSelectionAndEmptiesTheMenu) {
    writeLooks(namedLooks(3));
    Instance& fx = start();
    fx.userEdit("savedLooks", 2);
    EXPECT_EQ(press("deleteLook"), "Deleted Look 3.");
    EXPECT_EQ(fx.intValue("savedLooks"), 1);
    EXPECT_EQ(menu(), (std::vector<std::string>{"Look 1", "Look 2"}));
    press("deleteLook");
    EXPECT_EQ(press("deleteLook"), "Deleted Look 1.");
    EXPECT_EQ(fx.intValue("savedLooks"), 0);
    EXPECT_EQ(menu(), std::vector<std::string>{"No saved looks"});
    EXPECT_TRUE(stored().looks.empty());
    EXPECT_EQ(press("deleteLook"), "No look to delete.");
}

// A fixed pool of 30 options is relabelled in place; a dynamic menu shows at most 200 names.
TEST_F(MyLooks, MenuShowsAsManyNamesAsItsModeAllows) {
    for (const bool fixed : {true, false}) {
        for (const bool withSetStringN : {true, false}) {
            SCOPED_TRACE(std::string(fixed ? "fixed pool" : "dynamic") +
                         (withSetStringN ? ", propSetStringN" : ", no propSetStringN"));
            HostProfile profile;
            profile.fixedChoiceOptions = fixed;
            profile.propSetStringN = withSetStringN;
            const int shown = fixed ? 30 : 200;
            std::vector<std::string> full;
            for (const SavedLook& look : namedLooks(shown)) {
                full.push_back(look.name);
            }
            writeLooks(namedLooks(shown));
            Instance& fx = start(profile);
            EXPECT_EQ(menu(), full);
            EXPECT_EQ(press("saveLook", "Extra"),
                      "Saved Extra. The menu cannot show every saved look.");
            EXPECT_EQ(menu(), full);
            EXPECT_EQ(fx.intValue("savedLooks"), shown);
            if (fixed) {
                writeLooks(namedLooks(1));
                fx.userEdit("savedLooks", 0);
                EXPECT_EQ(press("deleteLook"), "Deleted Look 1.");
                std::vector<std::string> empty(30, " ");
                empty[0] = "No saved looks";
                EXPECT_EQ(menu(), empty);
                EXPECT_EQ(fx.intValue("savedLooks"), 0);
                // Choosing a blank entry changes nothing.
                fx.setValue("lookName", std::string("as typed"));
                fx.userEdit("savedLooks", 5);
                EXPECT_EQ(fx.stringValue("lookName"), "as typed");
            }
            EXPECT_TRUE(host_->problems().empty());
            host_.reset();
        }
    }
    // A pool exactly as long as the list reads back like options that follow it, so both
    // mode lines appear.
    EXPECT_NE(readFile(path("debug.log")).find("saved-looks menu: fixed-pool\n"),
              std::string::npos);
}

TEST_F(MyLooks, NewerFileRefusesEveryCommandAndStaysUntouched) {
    const std::string text = "{\"schema\": 2, \"looks\": [{\"name\": \"future\"}]}";
    writeFile(myLooksFile(), text);
    Instance& fx = start();
    EXPECT_EQ(menu(), std::vector<std::string>{"No saved looks"});
    for (const char* button : {"saveLook", "applyLook", "renameLook", "deleteLook"}) {
        fx.setValue("myLooksStatus", std::string());
        EXPECT_EQ(press(button, "name"), "My Looks is from a newer plugin.") << button;
    }
    EXPECT_EQ(readFile(myLooksFile()), text);
    EXPECT_FALSE(::access((myLooksFile() + ".bak").c_str(), F_OK) == 0 ||
                 ::access((myLooksFile() + ".tmp").c_str(), F_OK) == 0);
    EXPECT_NE(readFile(path("debug.log")).find("my looks: file schema is newer; left it alone\n"),
              std::string::npos);
}

TEST_F(MyLooks, DamagedFileIsReportedOnceByTheMenuRefresh) {
    writeFile(myLooksFile(), "{\"looks\": [");
    Instance& fx = start();
    EXPECT_EQ(status(), "My Looks file was reset. A backup was kept.");
    EXPECT_EQ(readFile(myLooksFile() + ".bak"), "{\"looks\": [");
    EXPECT_EQ(menu(), std::vector<std::string>{"No saved looks"});
    fx.clearWrites();
    fx.userEdit("exposure", 1.0);  // the next refresh finds nothing to repair
    EXPECT_TRUE(fx.writes().empty());

    // A damaged file that cannot be moved aside: every command says so.
    writeFile(myLooksFile(), "damaged");
    ASSERT_EQ(::unlink((myLooksFile() + ".bak").c_str()), 0);
    ASSERT_EQ(::mkdir((myLooksFile() + ".bak").c_str(), 0755), 0);
    writeFile(myLooksFile() + ".bak/x", "x");
    for (int i = 2; i <= 49; ++i) {
        writeFile(myLooksFile() + ".bak" + std::to_string(i), "old");
    }
    for (const char* button : {"saveLook", "applyLook", "renameLook", "deleteLook"}) {
        fx.setValue("myLooksStatus", std::string());
        EXPECT_EQ(press(button), "Could not read My Looks.") << button;
    }
    EXPECT_EQ(readFile(myLooksFile()), "damaged");
}

}  // namespace
}  // namespace vd::test
