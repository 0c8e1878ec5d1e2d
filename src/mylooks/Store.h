// The My Looks file: where it is, loading it with repair, saving it atomically, and the
// edits the commands make on the loaded document (add or replace, rename, delete).
//
// Owns: `MyLooksDocument`, the edit result codes, the name rules, the My Looks lock and
// the inter-process lock beside the file.
// Does not own: the text format (Json.h), the commands and the menu (Commands.h).
// Every command loads afresh; nothing is cached between operations.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "mylooks/Json.h"

namespace vd {

namespace platform {
class FileLock;
}

inline constexpr std::uint64_t kMaxMyLooksFileBytes = 1048576;

struct MyLooksDocument {
    std::int32_t schema = 1;
    std::vector<SavedLook> looks;
    bool wasReset = false;     // the load moved a damaged file aside
    bool newerSchema = false;  // the file declares a newer schema and was left untouched
    bool readOnly = false;     // must not be written back
};

enum class EditResult {
    Done = 0,
    Added = 1,
    Replaced = 2,
    NoSuchLook = 3,
    EmptyName = 4,
    NameTaken = 5,
    ReadOnly = 6,
};

// VD_MY_LOOKS_FILE when set and not empty, else "MyLooks.json" in the support directory;
// empty when there is no location.
std::string myLooksFilePath();

// Holds the My Looks lock, and an advisory lock on the sibling ".lock" file shared with
// other processes, for its whole life: a command that loads, edits and saves inside one
// session cannot lose another instance's or process's edit. willWrite creates the file's
// directory so that the inter-process lock can be taken before the first save.
class MyLooksSession {
  public:
    explicit MyLooksSession(bool willWrite);
    ~MyLooksSession();
    MyLooksSession(const MyLooksSession&) = delete;
    MyLooksSession& operator=(const MyLooksSession&) = delete;

    // Never fails: problems are folded into the document's flags.
    MyLooksDocument load();
    // True when the file was written; read-only documents are refused untouched.
    bool save(const MyLooksDocument& document);

  private:
    std::unique_lock<std::mutex> lock_;
    std::string path_;
    std::unique_ptr<platform::FileLock> fileLock_;
};

// One load or one save in a session of its own.
MyLooksDocument loadMyLooks();
bool saveMyLooks(const MyLooksDocument& document);

// Whitespace runs become one space, other control bytes go, at most 80 bytes are kept,
// leading and trailing spaces are dropped.
std::string cleanLookName(std::string_view raw);

// Index of the first look whose name has exactly these bytes, or -1.
int findSavedLook(const MyLooksDocument& document, std::string_view name);

EditResult upsertSavedLook(MyLooksDocument& document, const SavedLook& look);
EditResult renameSavedLook(MyLooksDocument& document, int index, std::string_view rawName);
EditResult deleteSavedLook(MyLooksDocument& document, int index);

// "My Look 1", "My Look 2" ...: the first not used; "My Look" when all 9999 are.
std::string nextDefaultLookName(const MyLooksDocument& document);

}  // namespace vd
