// Test support: CBF images built byte by byte (independently of the code
// under test), a scratch directory per test, and a platform that counts
// blocks and injects failures.
#pragma once

#include "cbf/cbf_format.h"
#include "cbf/cbf_posix_platform.h"
#include "cbf/cbf_walks.h"
#include "tests/cbf/cbf_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace setupsup_test {

// The test helpers name the library's CBF types unqualified.
using namespace setupsup;

bool SameEntry(const ProcMapEntry& a, const ProcMapEntry& b);
int OpenDescriptorCount();

// Wraps the POSIX platform; records blocks and fails on request.
class TestPlatform : public CbfPlatform {
public:
    FileTimesResult OpenTarget(const char* path, CbfFile* file, CbfFileTimes* times) override;
    bool OpenSource(const char* path, CbfFile target, CbfFile* file) override
    {
        return real_.OpenSource(path, target, file);
    }
    bool SetTimes(CbfFile file, const CbfFileTimes& times) override;
    void Close(CbfFile file) override { real_.Close(file); }
    CbfIoResult ReadAt(CbfFile file, uint64_t offset, void* buffer, size_t bytes, size_t* got) override
    {
        ++reads;
        return real_.ReadAt(file, offset, buffer, bytes, got);
    }
    CbfIoResult WriteAt(CbfFile file, uint64_t offset, const void* buffer, size_t bytes) override
    {
        ++writes;
        return real_.WriteAt(file, offset, buffer, bytes);
    }
    bool Length(CbfFile file, uint64_t* length) override { return real_.Length(file, length); }
    bool SetLength(CbfFile file, uint64_t length) override;
    void* AllocZeroed(size_t bytes) override;
    void Free(void* block) override;
    // Back to no faults and no records.
    void Reset()
    {
        failAllocation = restores = freedUnknown = reads = writes = 0;
        captureResult.reset();
        failRestore = failCut = false;
        givenTimes.reset();
        allocations.clear();
        live.clear();
    }

    int failAllocation = 0;                       // fail the n-th allocation (1-based); 0: never
    std::optional<FileTimesResult> captureResult; // returned instead of opening the target, when set
    bool failRestore = false;                     // the times cannot be set
    bool failCut = false;
    // Captured instead of the file's own times, when set: the file system
    // here has no creation time to capture or restore.
    std::optional<CbfFileTimes> givenTimes;
    CbfFileTimes restored{}; // the times of the last restore

    std::vector<size_t> allocations; // sizes asked for, in order
    std::set<void*> live;            // blocks not yet freed
    int restores = 0;
    int freedUnknown = 0;      // Free of a block we never gave out
    int reads = 0, writes = 0; // transfers asked for

private:
    PosixCbfPlatform real_;
};

// Each test gets an empty directory and checks that nothing leaked.
class CbfFilesTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    std::string Write(const std::string& name, const CbfImage& image);
    // Runs a walk and checks that it released every block and descriptor.
    template <typename Walk>
    int Run(Walk walk)
    {
        const int before = OpenDescriptorCount();
        const int result = walk(platform);
        EXPECT_TRUE(platform.live.empty()) << "blocks leaked";
        EXPECT_EQ(platform.freedUnknown, 0);
        EXPECT_EQ(OpenDescriptorCount(), before) << "descriptors leaked";
        return result;
    }

    TestPlatform platform;
    std::filesystem::path dir_;
};

} // namespace setupsup_test
