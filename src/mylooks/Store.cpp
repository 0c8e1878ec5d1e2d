#include "mylooks/Store.h"

#include "platform/Platform.h"
#include "support/Support.h"

namespace vd {

namespace {

std::mutex& myLooksMutex() {
    // Never destroyed: instances on other threads may still run at process exit.
    static std::mutex* mutex = new std::mutex();
    return *mutex;
}

}  // namespace

std::string myLooksFilePath() {
    if (std::string path = platform::getEnv("VD_MY_LOOKS_FILE").value_or(std::string());
        !path.empty()) {
        return path;
    }
    return supportFilePath("MyLooks.json");
}

MyLooksSession::MyLooksSession(bool willWrite) : lock_(myLooksMutex()), path_(myLooksFilePath()) {
    if (path_.empty()) {
        return;
    }
    // Without the directory there is no file to protect yet; a command that is going to
    // write makes it now so that the first save is covered too.
    const std::string dir = platform::parentPath(path_);
    if (!dir.empty() && !platform::fileStatus(dir).isDirectory) {
        if (!willWrite || !platform::createDirectories(dir)) {
            return;
        }
    }
    auto fileLock = std::make_unique<platform::FileLock>(path_ + ".lock");
    if (fileLock->locked()) {
        fileLock_ = std::move(fileLock);
    }
}

MyLooksSession::~MyLooksSession() = default;

MyLooksDocument MyLooksSession::load() {
    MyLooksDocument doc;
    if (path_.empty() || !platform::fileStatus(path_).exists) {
        return doc;
    }
    std::string text;
    switch (platform::readWholeFile(path_, kMaxMyLooksFileBytes, text)) {
        case platform::ReadResult::ok:
            break;
        case platform::ReadResult::missing:
            return doc;  // removed since the status was taken: nothing to repair
        case platform::ReadResult::tooLarge:
        case platform::ReadResult::failed:
            if (moveFileAside(path_)) {
                doc.wasReset = true;
                debugLog("my looks: unreadable file moved aside");
            } else {
                doc.readOnly = true;
            }
            return doc;
    }
    std::string_view body(text);
    if (body.size() >= 3 && body.substr(0, 3) == "\xEF\xBB\xBF") {
        body.remove_prefix(3);
    }
    ParsedMyLooks parsed = parseMyLooksText(body);
    if (parsed.ok && parsed.hasLooks && parsed.schema == 1) {
        doc.looks = std::move(parsed.looks);
        return doc;
    }
    if (!parsed.ok || parsed.schema < 2) {
        if (moveFileAside(path_)) {
            doc.wasReset = true;
            debugLog("my looks: corrupt file moved aside");
        } else {
            doc.readOnly = true;
        }
        return doc;
    }
    doc.schema = parsed.schema;
    doc.newerSchema = true;
    doc.readOnly = true;
    debugLog("my looks: file schema is newer; left it alone");
    return doc;
}

bool MyLooksSession::save(const MyLooksDocument& document) {
    if (document.readOnly) {
        return false;
    }
    return writeFileAtomically(path_, formatMyLooksText(document.looks));
}

MyLooksDocument loadMyLooks() {
    MyLooksSession session(false);
    return session.load();
}

bool saveMyLooks(const MyLooksDocument& document) {
    if (document.readOnly) {
        return false;
    }
    MyLooksSession session(true);
    return session.save(document);
}

std::string cleanLookName(std::string_view raw) {
    constexpr std::size_t kMaxBytes = 80;
    std::string out;
    for (const char c : raw) {
        if (out.size() >= kMaxBytes) {
            break;
        }
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (!out.empty() && out.back() != ' ') {
                out.push_back(' ');
            }
        } else if (static_cast<unsigned char>(c) >= 32) {
            out.push_back(c);
        }
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

int findSavedLook(const MyLooksDocument& document, std::string_view name) {
    for (std::size_t i = 0; i < document.looks.size(); ++i) {
        if (document.looks[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

EditResult upsertSavedLook(MyLooksDocument& document, const SavedLook& look) {
    if (document.readOnly) {
        return EditResult::ReadOnly;
    }
    if (look.name.empty()) {
        return EditResult::EmptyName;
    }
    const int index = findSavedLook(document, look.name);
    if (index < 0) {
        document.looks.push_back(look);
        return EditResult::Added;
    }
    document.looks[static_cast<std::size_t>(index)] = look;
    return EditResult::Replaced;
}

EditResult renameSavedLook(MyLooksDocument& document, int index, std::string_view rawName) {
    if (document.readOnly) {
        return EditResult::ReadOnly;
    }
    if (index < 0 || static_cast<std::size_t>(index) >= document.looks.size()) {
        return EditResult::NoSuchLook;
    }
    std::string name = cleanLookName(rawName);
    if (name.empty()) {
        return EditResult::EmptyName;
    }
    for (std::size_t i = 0; i < document.looks.size(); ++i) {
        if (static_cast<int>(i) != index && document.looks[i].name == name) {
            return EditResult::NameTaken;
        }
    }
    document.looks[static_cast<std::size_t>(index)].name = std::move(name);
    return EditResult::Done;
}

EditResult deleteSavedLook(MyLooksDocument& document, int index) {
    if (document.readOnly) {
        return EditResult::ReadOnly;
    }
    if (index < 0 || static_cast<std::size_t>(index) >= document.looks.size()) {
        return EditResult::NoSuchLook;
    }
    document.looks.erase(document.looks.begin() + index);
    return EditResult::Done;
}

std::string nextDefaultLookName(const MyLooksDocument& document) {
    for (int n = 1; n <= 9999; ++n) {
        std::string name = "My Look " + std::to_string(n);
        if (findSavedLook(document, name) < 0) {
            return name;
        }
    }
    return "My Look";
}

}  // namespace vd
