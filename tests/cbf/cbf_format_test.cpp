// OpenCbf, CloseCbf and WriteProcMap on real files.
#include "tests/cbf/cbf_test_files.h"

#include <unistd.h>
#include <cstdarg>

using namespace setupsup;
using namespace setupsup_test;

namespace {

struct Traced {
    int level;
    std::string text;
};
std::vector<Traced> g_traces;

void Record(int level, const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_traces.push_back({level, text});
}

class OpenCbfTest : public CbfFilesTest {
protected:
    void SetUp() override
    {
        CbfFilesTest::SetUp();
        g_traces.clear();
    }
    // Size query through the recording hook.
    int Query(const std::string& path, uint32_t* size, int update = 0)
    {
        return OpenCbfTraced(path.c_str(), update, nullptr, size, &handle, Record);
    }
    int Read(const std::string& path, std::vector<ProcMapEntry>* map, uint32_t capacity, int update = 0)
    {
        map->assign(capacity / 24 + 1, ProcMapEntry{});
        uint32_t size = capacity;
        int result = OpenCbfTraced(path.c_str(), update, map->data(), &size, &handle, Record);
        EXPECT_EQ(size, capacity) << "a read must leave the capacity alone";
        return result;
    }
    void TearDown() override
    {
        CloseCbf(&handle);
        CbfFilesTest::TearDown();
    }
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> texts;
        texts.reserve(g_traces.size());
        for (const Traced& t : g_traces)
            texts.push_back(t.text);
        return texts;
    }

    CbfHandle handle{};
};

using Texts = std::vector<std::string>;

TEST_F(OpenCbfTest, SmallestFileOpensInBothModes)
{
    CbfImage image;
    image.Entry(3) = {1, 2, 0, 3, 0, 9};
    const std::string path = Write("a.cbf", image);
    ASSERT_EQ(ReadBytes(path).size(), 6021u);
    uint32_t size = 0;
    ASSERT_EQ(Query(path, &size), 0);
    EXPECT_EQ(size, 6000u);
    EXPECT_EQ(handle.stream, nullptr);
    EXPECT_EQ(CloseCbf(&handle), 0) << "a size query leaves no stream";
    for (int update : {0, 1}) {
        std::vector<ProcMapEntry> map;
        ASSERT_EQ(Read(path, &map, 6000, update), 0);
        EXPECT_EQ(handle.marker, 103191u);
        EXPECT_EQ(handle.count, 250);
        EXPECT_EQ(ftell(handle.stream), 6021) << "stream stands after the map";
        EXPECT_TRUE(SameEntry(map[3], image.Entry(3)));
        EXPECT_EQ(CloseCbf(&handle), 1);
        EXPECT_EQ(CloseCbf(&handle), 0) << "second close";
        EXPECT_EQ(handle.stream, nullptr);
        EXPECT_EQ(handle.count, 0);
        EXPECT_EQ(handle.marker, 103191u);
    }
    EXPECT_TRUE(g_traces.empty());
}

TEST_F(OpenCbfTest, EntryCountLimits)
{
    struct Case {
        int32_t count;
        int result;
        const char* message;
    };
    const Case cases[] = {
        {2724, 0, nullptr},
        {2725, 6, "CBF file proc map too big.\n"},
        {249, 5, "CBF file proc map too small.\n"},
        {-1, 5, "CBF file proc map too small.\n"},
        {INT32_MIN, 5, "CBF file proc map too small.\n"},
        {0x0AAAAAAB, 6, "CBF file proc map too big.\n"}, // x24 wraps to 8 in 32 bits
        {INT32_MAX, 6, "CBF file proc map too big.\n"},
    };
    for (const Case& c : cases) {
        g_traces.clear();
        // Only the header matters for a size query.
        CbfImage image(c.count > 0 && c.count <= 2724 ? c.count : 250);
        Bytes bytes = image.Build();
        memcpy(&bytes[17], &c.count, 4);
        WriteBytes(Path("c.cbf"), bytes);
        uint32_t size = 77;
        EXPECT_EQ(Query(Path("c.cbf"), &size), c.result) << c.count;
        EXPECT_EQ(size, c.result == 0 ? 65376u : 77u) << c.count;
        EXPECT_EQ(handle.stream, nullptr);
        if (c.message != nullptr) {
            EXPECT_EQ(Messages(), Texts{c.message}) << c.count;
            EXPECT_EQ(g_traces[0].level, 2);
        }
    }
}

TEST_F(OpenCbfTest, CapacityMustHoldTheMap)
{
    const std::string path = Write("a.cbf", CbfImage(300));
    std::vector<ProcMapEntry> map;
    EXPECT_EQ(Read(path, &map, 7199), 6);
    EXPECT_EQ(Messages(),
              (Texts{"Attempting to add proc past end of proc map.\n", "--> Rebuild CBF with bigger map size.\n"}));
    EXPECT_EQ(handle.stream, nullptr);
    EXPECT_EQ(Read(path, &map, 7200), 0);
    CloseCbf(&handle);
    EXPECT_EQ(Read(path, &map, 9000), 0);
}

TEST_F(OpenCbfTest, HeaderFaultsReportTheFirstMet)
{
    struct Case {
        const char* what;
        CbfImage image;
        int result;
        std::string message;
    };
    std::vector<Case> cases;
    cases.push_back({"ninth byte not NUL", CbfImage().Version("07.00.00X"), 2,
                     "CBF file version mismatch. Expected '07.00.00', got '07.00.00X'\n"});
    cases.push_back({"version before magic", CbfImage().Version("06.00.00\0").Magic(1), 2,
                     "CBF file version mismatch. Expected '07.00.00', got '06.00.00'\n"});
    cases.push_back(
        {"magic before revision", CbfImage().Magic(103190).Revision(5), 4, "CBF file magic number is bad.\n"});
    cases.push_back({"revision before count", CbfImage(10).Revision(3), 3, "CBF file revision number mismatch.\n"});
    for (Case& c : cases) {
        g_traces.clear();
        const std::string path = Write("h.cbf", c.image);
        uint32_t size = 0;
        EXPECT_EQ(Query(path, &size), c.result) << c.what;
        EXPECT_EQ(Messages(), Texts{c.message}) << c.what;
        EXPECT_EQ(handle.stream, nullptr) << c.what;
        EXPECT_EQ(ReadBytes(path), c.image.Build()) << "opening never writes";
    }
}

TEST_F(OpenCbfTest, FileCutShort)
{
    const Bytes whole = CbfImage().Build();
    for (size_t length = 0; length < 21; ++length) {
        g_traces.clear();
        WriteBytes(Path("s.cbf"), Slice(whole, 0, length));
        uint32_t size = 0;
        EXPECT_EQ(Query(Path("s.cbf"), &size), 5) << length;
        EXPECT_EQ(Messages(), Texts{"Error reading CBF file.\n"}) << length;
    }
    // Inside the map: a size query passes, a read fails without a message.
    WriteBytes(Path("s.cbf"), Slice(whole, 0, 6020));
    uint32_t size = 0;
    EXPECT_EQ(Query(Path("s.cbf"), &size, 1), 0);
    g_traces.clear();
    std::vector<ProcMapEntry> map;
    EXPECT_EQ(Read(Path("s.cbf"), &map, size, 1), 5);
    EXPECT_TRUE(g_traces.empty());
    EXPECT_EQ(handle.stream, nullptr);
}

TEST_F(OpenCbfTest, NamesAndArguments)
{
    uint32_t size = 0;
    EXPECT_EQ(OpenCbf("x", 0, nullptr, &size, nullptr), 7);
    EXPECT_EQ(OpenCbf("x", 0, nullptr, nullptr, &handle), 7);
    EXPECT_EQ(Query(Path("missing.cbf"), &size), 1);
    EXPECT_EQ(Messages(), Texts{"Open of CBF File " + Path("missing.cbf") + " failed.\n File not found.\n"});

    // Null name: "ZORBDLG.CBF" in the current directory.
    Write("ZORBDLG.CBF", CbfImage(260));
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    const int result = OpenCbf(nullptr, 0, nullptr, &size, &handle);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(size, 260u * 24);
}

// The working buffer holds 511 characters and the NUL; a longer name is
// refused outright rather than cut to some other file's name.
TEST_F(OpenCbfTest, LongNamesAreRefusedNotCut)
{
    Write("n.cbf", CbfImage());
    // The same file spelt with "./" (and one extra "/") to reach a length.
    const auto nameOfLength = [&](size_t length) {
        const std::string base = dir_.string() + "/";
        const size_t padding = length - base.size() - 5;
        std::string pad;
        while (pad.size() + 2 <= padding)
            pad += "./";
        if (pad.size() < padding)
            pad += "/";
        return base + pad + "n.cbf";
    };
    uint32_t size = 0;
    const std::string fits = nameOfLength(511);
    ASSERT_EQ(fits.size(), 511u);
    EXPECT_EQ(OpenCbf(fits.c_str(), 0, nullptr, &size, &handle), 0);
    const std::string tooLong = nameOfLength(512);
    ASSERT_EQ(tooLong.size(), 512u);
    EXPECT_EQ(Query(tooLong, &size), 1);
    EXPECT_EQ(g_traces.size(), 1u);
    const std::string huge(5000, 'a');
    EXPECT_EQ(OpenCbf(huge.c_str(), 1, nullptr, &size, &handle), 1);
}

TEST_F(OpenCbfTest, CloseActsOnlyOnMarkedOpenHandles)
{
    EXPECT_EQ(CloseCbf(nullptr), 0);
    FILE* stream = fopen(Write("a.cbf", CbfImage()).c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    CbfHandle unmarked{0, stream, 250};
    EXPECT_EQ(CloseCbf(&unmarked), 0);
    EXPECT_EQ(unmarked.stream, stream) << "left alone";
    fclose(stream);
}

TEST_F(OpenCbfTest, WriteProcMapRewritesOnlyTheMap)
{
    CbfImage image(251);
    image.Block(0, 40, 1).Block(250, 10, 2);
    const std::string path = Write("w.cbf", image);
    const Bytes before = ReadBytes(path);
    std::vector<ProcMapEntry> map;

    ASSERT_EQ(Read(path, &map, 251 * 24, 0), 0);
    g_traces.clear();
    EXPECT_EQ(WriteProcMapTraced(map.data(), &handle, Record), 0) << "read-only handle";
    CloseCbf(&handle);
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(WriteProcMap(map.data(), &handle), 0) << "closed handle";
    EXPECT_EQ(WriteProcMap(map.data(), nullptr), 0);

    ASSERT_EQ(Read(path, &map, 251 * 24, 1), 0);
    for (ProcMapEntry& e : map)
        e = {0xA1A2A3A4, 5, 6, 7, 8, 9};
    g_traces.clear();
    ASSERT_EQ(WriteProcMapTraced(map.data(), &handle, Record), 1);
    EXPECT_EQ(Messages(), Texts{"Updating CBF Proc map.\n"});
    EXPECT_EQ(g_traces[0].level, 1);
    EXPECT_EQ(ftell(handle.stream), 21 + 251 * 24);
    CloseCbf(&handle);
    const Bytes after = ReadBytes(path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(Slice(after, 0, 21), Slice(before, 0, 21));
    const uint64_t end = 21 + 251 * 24;
    EXPECT_EQ(Slice(after, end, after.size() - end), Slice(before, end, before.size() - end));
    for (const ProcMapEntry& e : MapOf(after, 251))
        EXPECT_TRUE(SameEntry(e, map[0]));
}

} // namespace
