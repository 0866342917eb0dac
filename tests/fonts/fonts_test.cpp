// Font resources and shell launch: AddFont and RemoveFont with real font
// files, the WM_FONTCHANGE broadcast counted by a hidden top-level window of
// another thread (and, beside a hung window, by one of another process),
// and ShellExecuteSimple and GooseFont starting a recorder
// program directly and through an extension mapped under HKCR.
#include "tests/common/test_support.h"
#include "tests/process/helper_process.h"

#include <gtest/gtest.h>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

using namespace setupsup_test;

using PathFn = int(WINAPI*)(const char*);
using ShellExecuteSimpleFn = int(WINAPI*)(const char*, const char*, const char*, int);

namespace {

std::atomic<int> g_fontChanges{0};

LRESULT CALLBACK CounterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_FONTCHANGE)
        ++g_fontChanges;
    return ::DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI CounterThread(LPVOID ready)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = CounterProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "SetupsupFontChangeCounter";
    ::RegisterClassA(&windowClass);
    // Top-level and never shown: broadcasts reach it all the same.
    ::CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                      windowClass.hInstance, nullptr);
    ::SetEvent(static_cast<HANDLE>(ready));
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0)
        ::DispatchMessageA(&message);
    return 0;
}

// The counter window lives for the whole test program.
void StartCounter()
{
    static bool started = false;
    if (started)
        return;
    HANDLE ready = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = ::CreateThread(nullptr, 0, CounterThread, ready, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(::WaitForSingleObject(ready, 30000), WAIT_OBJECT_0);
    ::CloseHandle(ready);
    ::CloseHandle(thread);
    started = true;
}

std::string TestFont(const char* name) { return ProgramFile(name); }

int CALLBACK NoteFound(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM found)
{
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// Whether this process's font enumeration reports the face.
bool FaceInstalled(const char* face)
{
    HDC dc = ::CreateCompatibleDC(nullptr);
    LOGFONTA font = {};
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(font.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    ::EnumFontFamiliesExA(dc, &font, NoteFound, reinterpret_cast<LPARAM>(&found), 0);
    ::DeleteDC(dc);
    return found;
}

// What SendMessageA returns for a broadcast under Wine when no window hangs.
constexpr int kBroadcastResult = 1;

class FontResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartCounter();
        addFont_ = Export<PathFn>("AddFont");
        removeFont_ = Export<PathFn>("RemoveFont");
        ASSERT_NE(addFont_, nullptr);
        ASSERT_NE(removeFont_, nullptr);
        // The counter window must see a broadcast for the counts to mean anything.
        const int seen = g_fontChanges;
        ::SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
        ASSERT_GT(g_fontChanges, seen) << "the counter window must see the test's own broadcast";
        before_ = g_fontChanges;
    }
    int Broadcasts() const { return g_fontChanges - before_; }

    PathFn addFont_ = nullptr, removeFont_ = nullptr;
    int before_ = 0;
};

} // namespace

TEST_F(FontResources, OneFontIsAddedWithABroadcastAndRemoved)
{
    std::string single = TestFont("setupsup-single.ttf");
    ASSERT_TRUE(FileExists(single)) << single;
    ASSERT_FALSE(FaceInstalled("Setupsup Single"));

    // Wine's broadcast returns 1, the font count too, so the value cannot tell
    // which one came back; that the broadcast went out is seen by the counter.
    EXPECT_EQ(addFont_(single.c_str()), kBroadcastResult) << "one font: the broadcast's result";
    EXPECT_EQ(Broadcasts(), 1) << "WM_FONTCHANGE sent once, and handled before AddFont returned";
    EXPECT_TRUE(FaceInstalled("Setupsup Single"));

    EXPECT_EQ(removeFont_(single.c_str()), kBroadcastResult);
    EXPECT_EQ(Broadcasts(), 2) << "RemoveFont broadcasts";
    EXPECT_FALSE(FaceInstalled("Setupsup Single")) << "the font is gone after RemoveFont";
}

TEST_F(FontResources, CollectionReturnsItsCountAndStillBroadcasts)
{
    std::string trio = TestFont("setupsup-trio.ttc");
    ASSERT_TRUE(FileExists(trio)) << trio;
    EXPECT_EQ(addFont_(trio.c_str()), 3) << "three fonts: the count";
    EXPECT_EQ(Broadcasts(), 1) << "running programs are told of a collection too";
    for (const char* face : {"Setupsup Trio A", "Setupsup Trio B", "Setupsup Trio C"})
        EXPECT_TRUE(FaceInstalled(face)) << face;

    EXPECT_EQ(removeFont_(trio.c_str()), kBroadcastResult);
    EXPECT_EQ(Broadcasts(), 2);
    EXPECT_FALSE(FaceInstalled("Setupsup Trio B"));
}

TEST_F(FontResources, NoFontMeansZeroAndNoBroadcast)
{
    ScratchDir dir;
    std::string text = dir.File("notafont.ttf");
    WriteFileBytes(text, {'n', 'o', ' ', 'f', 'o', 'n', 't', '\n'});
    EXPECT_EQ(addFont_(text.c_str()), 0) << "a text file adds no font";
    EXPECT_EQ(addFont_(dir.File("missing.ttf").c_str()), 0) << "a missing file adds no font";
    EXPECT_EQ(Broadcasts(), 0) << "nothing added, nothing broadcast";
}

TEST_F(FontResources, RemovingAFontNeverAddedStillBroadcasts)
{
    std::string single = TestFont("setupsup-single.ttf");
    EXPECT_EQ(removeFont_(single.c_str()), kBroadcastResult);
    EXPECT_EQ(removeFont_("C:\\no\\such\\font.ttf"), kBroadcastResult);
    EXPECT_EQ(Broadcasts(), 2) << "one broadcast per call, removal failed or not";
}

namespace {

// What one AddFont and one RemoveFont of the single font return, how long
// the pair took, and how many WM_FONTCHANGE the listener had handled when
// each call returned.
struct FontPair {
    int added = -1, removed = -1;
    DWORD milliseconds = 0;
    LONG heardAfterAdd = -1, heardAfterRemove = -1;
};

struct FontPairCall {
    PathFn addFont, removeFont;
    std::string font;
    volatile LONG* heard;
    FontPair pair;
};

DWORD WINAPI CallFontPair(LPVOID param)
{
    auto* call = static_cast<FontPairCall*>(param);
    DWORD start = ::GetTickCount();
    call->pair.added = call->addFont(call->font.c_str());
    call->pair.heardAfterAdd = *call->heard;
    call->pair.removed = call->removeFont(call->font.c_str());
    call->pair.heardAfterRemove = *call->heard;
    call->pair.milliseconds = ::GetTickCount() - start;
    return 0;
}

} // namespace

// A window of another process that stops pumping messages must not hold
// the installer: the broadcast skips it, and a responsive window of a third
// process still handles the message before each call returns.
TEST_F(FontResources, HungWindowOfAnotherProcessDoesNotBlockTheBroadcast)
{
    // The per-window limit of the broadcast is 5 s: the first call may wait
    // that long for a window not yet reported hung.
    constexpr DWORD kBoundMs = 15000;
    constexpr DWORD kWatchdogMs = 60000;
    std::string mappingName = "SetupsupFontListener-" + std::to_string(::GetCurrentProcessId());
    HANDLE mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, mappingName.c_str());
    ASSERT_NE(mapping, nullptr);
    auto* heard = static_cast<volatile LONG*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(heard, nullptr);
    std::string helper = setupsup_test::ProgramFolder() + "window_helper.exe";
    process_test::HelperProcess listener("listen:" + mappingName, helper);
    ASSERT_TRUE(listener.ready());

    FontPairCall call{addFont_, removeFont_, TestFont("setupsup-single.ttf"), heard, {}};
    CallFontPair(&call);
    const FontPair alone = call.pair;
    EXPECT_EQ(alone.heardAfterAdd, 1) << "the listener handled AddFont's broadcast before AddFont returned";
    EXPECT_EQ(alone.heardAfterRemove, 2);

    process_test::HelperProcess hung("hung", helper);
    ASSERT_TRUE(hung.ready());
    call.pair = {};
    HANDLE thread = ::CreateThread(nullptr, 0, CallFontPair, &call, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    bool returned = ::WaitForSingleObject(thread, kWatchdogMs) == WAIT_OBJECT_0;
    hung.Stop(); // ends the hang for good, so that a blocked call returns
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
    ASSERT_TRUE(returned) << "AddFont and RemoveFont blocked on the hung window";
    EXPECT_LT(call.pair.milliseconds, kBoundMs);
    EXPECT_EQ(call.pair.added, alone.added) << "the same result as without the hung window";
    EXPECT_EQ(call.pair.removed, alone.removed);
    EXPECT_EQ(call.pair.heardAfterAdd, 3) << "the responsive window still handled the message in time";
    EXPECT_EQ(call.pair.heardAfterRemove, 4);
    std::printf("font pair beside a hung window: %lu ms\n", static_cast<unsigned long>(call.pair.milliseconds));

    ::UnmapViewOfFile(const_cast<LONG*>(heard));
    ::CloseHandle(mapping);
}

namespace {

// The complete lines of path, read through a handle that shares everything;
// none while it cannot be opened.
std::vector<std::string> CompleteLines(const std::string& path)
{
    std::vector<std::string> lines;
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lines;
    std::string text, line;
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        text.append(chunk, got);
    ::CloseHandle(file);
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line += c;
        }
    }
    return lines;
}

// The recorder's record next to firstArgument, once its three lines are
// there. The recorder renames a complete file into place, but Wine's
// MoveFileA keeps a handle with DELETE access on the file for a moment
// after the rename: an open that does not share delete fails then with a
// sharing violation (seen for a third of the opens made right after the
// rename). The limit is for a loaded machine, where a Wine process start
// alone can take seconds.
std::vector<std::string> ReadRecord(const std::string& firstArgument)
{
    constexpr DWORD kRecordLimitMs = 60000;
    const std::string path = firstArgument + ".rec";
    const DWORD start = ::GetTickCount();
    std::vector<std::string> lines = CompleteLines(path);
    while (lines.size() < 3 && ::GetTickCount() - start < kRecordLimitMs) {
        ::Sleep(50);
        lines = CompleteLines(path);
    }
    return lines;
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Recorder() { return ProgramFile("shell_recorder.exe"); }

} // namespace

TEST(ShellExecuteSimple, StartsAProgramWithParametersFolderAndShowCommand)
{
    auto shellExecuteSimple = Export<ShellExecuteSimpleFn>("ShellExecuteSimple");
    ASSERT_NE(shellExecuteSimple, nullptr);
    ScratchDir dir;
    std::string first = dir.File("direct");
    std::string parameters = "\"" + first + "\" alpha beta";
    int result = shellExecuteSimple(Recorder().c_str(), parameters.c_str(), dir.path().c_str(), SW_SHOWMINNOACTIVE);
    EXPECT_GT(result, 32) << "the shell's success value";
    auto record = ReadRecord(first);
    ASSERT_EQ(record.size(), 3u) << "the recorder ran and wrote its record";
    EXPECT_NE(record[0].find("alpha beta"), std::string::npos) << "parameters passed through: " << record[0];
    EXPECT_EQ(Lower(record[1]), Lower(dir.path())) << "started in the given folder";
    EXPECT_EQ(record[2], std::to_string(SW_SHOWMINNOACTIVE)) << "show command passed through";
}

TEST(ShellExecuteSimple, MissingFileGivesTheShellsError)
{
    auto shellExecuteSimple = Export<ShellExecuteSimpleFn>("ShellExecuteSimple");
    EXPECT_EQ(shellExecuteSimple("C:\\no\\such\\program.exe", nullptr, nullptr, SW_SHOWNORMAL), ERROR_FILE_NOT_FOUND)
        << "the shell's file-not-found value";
}

// ".ssgoose" files open with the recorder: the default verb "record" and the
// verb "open" each leave their own word in the record.
class GooseMapping : public ::testing::Test {
protected:
    static constexpr const char* kExtension = ".ssgoose";
    static constexpr const char* kClass = "SetupsupGoose.Document";

    void SetUp() override
    {
        Set(kExtension, kClass);
        Set(std::string(kClass) + "\\shell", "record");
        Set(std::string(kClass) + "\\shell\\record\\command", "\"" + Recorder() + "\" \"%1\" default-verb");
        Set(std::string(kClass) + "\\shell\\open\\command", "\"" + Recorder() + "\" \"%1\" open-verb");
    }
    void TearDown() override
    {
        for (const char* key :
             {"SetupsupGoose.Document\\shell\\record\\command", "SetupsupGoose.Document\\shell\\record",
              "SetupsupGoose.Document\\shell\\open\\command", "SetupsupGoose.Document\\shell\\open",
              "SetupsupGoose.Document\\shell", "SetupsupGoose.Document", ".ssgoose"})
            ::RegDeleteKeyA(HKEY_CLASSES_ROOT, key);
    }
    static void Set(const std::string& key, const std::string& value)
    {
        ASSERT_EQ(
            ::RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), static_cast<DWORD>(value.size())),
            ERROR_SUCCESS)
            << key;
    }
};

TEST_F(GooseMapping, GooseFontOpensHidden)
{
    auto gooseFont = Export<PathFn>("GooseFont");
    ASSERT_NE(gooseFont, nullptr);
    ScratchDir dir;
    std::string document = dir.File("font.ssgoose");
    WriteFileBytes(document, {'x'});
    EXPECT_EQ(gooseFont(document.c_str()), 33) << "Wine's success value";
    auto record = ReadRecord(document);
    ASSERT_EQ(record.size(), 3u);
    EXPECT_NE(record[0].find("open-verb"), std::string::npos) << "the verb \"open\": " << record[0];
    EXPECT_EQ(record[2], "0") << "SW_HIDE";
}

TEST_F(GooseMapping, ShellExecuteSimpleUsesTheDefaultVerb)
{
    auto shellExecuteSimple = Export<ShellExecuteSimpleFn>("ShellExecuteSimple");
    ScratchDir dir;
    std::string document = dir.File("doc.ssgoose");
    WriteFileBytes(document, {'x'});
    EXPECT_GT(shellExecuteSimple(document.c_str(), nullptr, nullptr, SW_SHOWNORMAL), 32);
    auto record = ReadRecord(document);
    ASSERT_EQ(record.size(), 3u);
    EXPECT_NE(record[0].find("default-verb"), std::string::npos) << "no verb: the default action: " << record[0];
}
