// What differs on Windows: backslash paths, UTF-8 names through the wide calls, the wide
// environment, devices and sharing modes, LockFileEx, APPDATA as the support directory, and
// My Looks saved, repaired and replaced there, and the HTTPS client's failure path.
#include <gtest/gtest.h>
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include <atomic>
#include <chrono>
#include <clocale>
#include <list>
#include <memory>
#include <thread>

#include "../common/TestFiles.h"
#include "mylooks/Store.h"
#include "platform/Platform.h"
#include "support/Support.h"

namespace vd {
namespace {

using namespace std::chrono_literals;

// A fresh folder under the build folder, with an accented name so every path below goes
// through the UTF-8 to UTF-16 conversion.
class WindowsFiles : public ::testing::Test {
  protected:
    WindowsFiles() {
        const std::string base = platform::joinPath(platform::moduleDirectory(), "wintest");
        dir_ = platform::joinPath(base, "caf\xC3\xA9-" + std::to_string(::GetTickCount64()));
        platform::createDirectories(dir_);
        env_.emplace_back("VD_SUPPORT_DIR", std::nullopt);
        env_.emplace_back("VD_MY_LOOKS_FILE", std::nullopt);
        env_.emplace_back("VD_DEBUG_LOG", std::nullopt);
        // Windows hands programs their environment in UTF-16, so APPDATA is set that way.
        env_.emplace_back("APPDATA", std::nullopt);
        ::_wputenv_s(L"APPDATA", wide(dir_).c_str());
    }
    static std::wstring wide(const std::string& utf8) {
        std::wstring w(static_cast<std::size_t>(
                           ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0)),
                       L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, w.data(), static_cast<int>(w.size()));
        return w;
    }
    // std::ifstream would read a UTF-8 name in the ANSI code page.
    static std::string read(const std::string& file) {
        std::string bytes;
        platform::readWholeFile(file, 1 << 20, bytes);
        return bytes;
    }
    std::string path(const std::string& name) const { return platform::joinPath(dir_, name); }

    std::string dir_;
    std::list<test::ScopedEnv> env_;
};

TEST(WindowsPaths, JoinWithBackslashesAndKeepTheRoot) {
    EXPECT_EQ(platform::pathSeparator(), '\\');
    EXPECT_EQ(platform::joinPath("C:\\Users\\me", "Vandrel"), "C:\\Users\\me\\Vandrel");
    EXPECT_EQ(platform::joinPath("C:\\Users\\me\\", "\\Vandrel"), "C:\\Users\\me\\Vandrel");
    EXPECT_EQ(platform::parentPath("C:\\Users\\me"), "C:\\Users");
    EXPECT_EQ(platform::parentPath("C:\\x.json"), "C:\\");
    EXPECT_EQ(platform::parentPath("x.json"), "");
}

TEST_F(WindowsFiles, Utf8NamesEnvironmentAndDevices) {
    const std::string name = path("\xE6\x97\xA5\xE6\x9C\xAC.json");  // two CJK characters
    ASSERT_TRUE(platform::writeFileDurably(name, "first"));
    ASSERT_TRUE(platform::writeFileDurably(path("next.tmp"), "second"));
    ASSERT_TRUE(platform::replaceFile(path("next.tmp"), name));
    std::string bytes;
    EXPECT_EQ(platform::readWholeFile(name, 100, bytes), platform::ReadResult::ok);
    EXPECT_EQ(bytes, "second");
    EXPECT_FALSE(platform::fileStatus(path("next.tmp")).exists);
    EXPECT_EQ(platform::readWholeFile(name, 3, bytes), platform::ReadResult::tooLarge);
    EXPECT_TRUE(platform::removeFile(name));
    EXPECT_TRUE(platform::removeFile(name));
    EXPECT_EQ(platform::readWholeFile(name, 100, bytes), platform::ReadResult::missing);

    // Devices and directories are refused without waiting.
    EXPECT_EQ(platform::readWholeFile("NUL", 100, bytes), platform::ReadResult::failed);
    EXPECT_EQ(platform::readWholeFile(dir_, 100, bytes), platform::ReadResult::failed);
    EXPECT_FALSE(platform::appendShared("NUL", "x"));
    EXPECT_FALSE(platform::writeFileDurably(dir_, "x"));

    // A value outside the ANSI code page arrives as UTF-8.
    ASSERT_EQ(::_wputenv_s(L"VD_WINDOWS_TEST", L"Jos\u00E9"), 0);
    EXPECT_EQ(platform::getEnv("VD_WINDOWS_TEST"), std::string("Jos\xC3\xA9"));
    EXPECT_FALSE(platform::getEnv("VD_WINDOWS_TEST_UNSET").has_value());

    // The module is the test program itself.
    EXPECT_TRUE(platform::fileStatus(
                    platform::joinPath(platform::moduleDirectory(), "vd_windows_tests.exe"))
                    .isRegular);
}

TEST(WindowsNumbers, ParseWithAPointWhateverTheLocale) {
    if (std::setlocale(LC_NUMERIC, "German_Germany.1252") == nullptr &&
        std::setlocale(LC_NUMERIC, "de-DE") == nullptr) {
        GTEST_SKIP() << "no German locale";
    }
    char* end = nullptr;
    const char text[] = "1.5";
    EXPECT_EQ(platform::classicStrtod(text, &end), 1.5);
    EXPECT_EQ(end, text + 3);
    std::setlocale(LC_NUMERIC, "C");
}

TEST_F(WindowsFiles, LockWaitsForTheHolder) {
    const std::string lock = path("MyLooks.lock");
    auto holder = std::make_unique<platform::FileLock>(lock);
    ASSERT_TRUE(holder->locked());
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        platform::FileLock second(lock);
        acquired = second.locked();
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(acquired);
    holder.reset();
    other.join();
    EXPECT_TRUE(acquired);
}

TEST_F(WindowsFiles, SupportDirectoryAndMyLooksUnderAppData) {
    const std::string support = platform::joinPath(dir_, "Vandrel");
    EXPECT_EQ(supportDirectory(), support);
    EXPECT_EQ(myLooksFilePath(), platform::joinPath(support, "MyLooks.json"));
    debugLog("hello");
    EXPECT_EQ(read(platform::joinPath(support, "debug.log")), "hello\n");

    MyLooksDocument doc;
    doc.looks.push_back(SavedLook{});
    doc.looks.back().name = "One";
    ASSERT_TRUE(saveMyLooks(doc));
    const std::string json = myLooksFilePath();
    const auto openJson = [&](DWORD share) {
        return ::CreateFileW(wide(json).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    };
    // Another program holding the file open without sharing its deletion makes a save fail
    // and leaves the file as it was. (With full sharing Windows lets the rename replace it;
    // Wine refuses that too, so it is not checked here.)
    doc.looks.back().name = "Two";
    ASSERT_TRUE(saveMyLooks(doc));
    HANDLE reader = openJson(FILE_SHARE_READ);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    doc.looks.back().name = "Three";
    EXPECT_FALSE(saveMyLooks(doc));
    ::CloseHandle(reader);
    EXPECT_EQ(loadMyLooks().looks.at(0).name, "Two");

    // A damaged file is moved aside to ".bak" and the next save starts afresh.
    ASSERT_TRUE(platform::writeFileDurably(json, "not json"));
    const MyLooksDocument repaired = loadMyLooks();
    EXPECT_TRUE(repaired.wasReset);
    EXPECT_EQ(read(json + ".bak"), "not json");
    EXPECT_TRUE(saveMyLooks(doc));
    EXPECT_EQ(loadMyLooks().looks.size(), 1u);
}

// No network here, so only the failure path: a refused connection ends the request at
// once, not completed, instead of waiting out its limits (a time-out would take 7.5 s).
TEST(WindowsHttps, RefusedLoopbackPortFailsQuickly) {
    WSADATA wsa{};
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    // Bound but not listening: the port is ours and every connection to it is refused.
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(s, INVALID_SOCKET);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), len), 0);
    ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len), 0);

    platform::HttpsRequest request;
    request.host = "127.0.0.1";
    request.port = ::ntohs(addr.sin_port);
    request.path = "/latest?platform=win";
    request.userAgent = "Vandrel Huebench";
    request.headers = "Content-Type: application/json\r\n";
    request.resolveTimeoutMs = 2500;
    request.connectTimeoutMs = 7500;
    request.sendTimeoutMs = 2500;
    request.receiveTimeoutMs = 7500;
    request.maxBodyBytes = 1 << 20;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(platform::httpsGet(request).completed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    ::closesocket(s);
    ::WSACleanup();
}

}  // namespace
}  // namespace vd
