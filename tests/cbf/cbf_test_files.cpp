#include "tests/cbf/cbf_test_files.h"

#include <cstdlib>
#include <cstring>

namespace setupsup_test {

bool SameEntry(const ProcMapEntry& a, const ProcMapEntry& b) { return memcmp(&a, &b, sizeof a) == 0; }

int OpenDescriptorCount()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

FileTimesResult TestPlatform::OpenTarget(const char* path, CbfFile* file, CbfFileTimes* times)
{
    if (captureResult)
        return *captureResult;
    FileTimesResult result = real_.OpenTarget(path, file, times);
    if (result == FileTimesResult::kOk && givenTimes)
        *times = *givenTimes;
    return result;
}

bool TestPlatform::SetTimes(CbfFile file, const CbfFileTimes& times)
{
    ++restores;
    restored = times;
    return !failRestore && real_.SetTimes(file, times);
}

void* TestPlatform::AllocZeroed(size_t bytes)
{
    allocations.push_back(bytes);
    if (static_cast<int>(allocations.size()) == failAllocation)
        return nullptr;
    void* block = real_.AllocZeroed(bytes);
    if (block != nullptr)
        live.insert(block);
    return block;
}

void TestPlatform::Free(void* block)
{
    if (live.erase(block) == 0)
        ++freedUnknown;
    real_.Free(block);
}

bool TestPlatform::SetLength(CbfFile file, uint64_t length) { return !failCut && real_.SetLength(file, length); }

void CbfFilesTest::SetUp()
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base ? base : "/tmp") + "/cbf-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
}

void CbfFilesTest::TearDown()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string CbfFilesTest::Write(const std::string& name, const CbfImage& image)
{
    std::string path = Path(name);
    WriteBytes(path, image.Build());
    return path;
}

} // namespace setupsup_test
