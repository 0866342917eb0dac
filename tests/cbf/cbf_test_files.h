// Test support: CBF images built byte by byte (independently of the code
// under test), a scratch directory per test, and a platform that counts
// blocks and injects failures.
#ifndef CBF_TEST_FILES_H
#define CBF_TEST_FILES_H

#include "cbf_format.h"
#include "cbf_posix_platform.h"
#include "cbf_walks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// A CBF image: header, map, then blocks in the order they were added.
class CbfImage {
 public:
  explicit CbfImage(int32_t count = 250);
  // Appends a block of length+4 bytes of a pattern seeded by `seed` and
  // points entry `index` at it (present 1).
  CbfImage& Block(int32_t index, uint32_t length, unsigned char seed);
  ProcMapEntry& Entry(int32_t index) { return map_.at(index); }
  CbfImage& Version(const char (&nineBytes)[10]);
  CbfImage& Magic(uint32_t magic) { magic_ = magic; return *this; }
  CbfImage& Revision(uint32_t revision) { revision_ = revision; return *this; }
  Bytes Build() const;
  uint64_t Size() const { return Build().size(); }

 private:
  int32_t count_;
  char version_[9];
  uint32_t magic_ = 103191;
  uint32_t revision_ = 4;
  std::vector<ProcMapEntry> map_;
  Bytes data_;
};

// The pattern CbfImage::Block fills a block with.
Bytes BlockPattern(uint64_t bytes, unsigned char seed);

void WriteBytes(const std::string& path, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);
// Entries of a map stored at byte 21 of `file`.
std::vector<ProcMapEntry> MapOf(const Bytes& file, int32_t count);
Bytes Slice(const Bytes& file, uint64_t start, uint64_t length);
bool SameEntry(const ProcMapEntry& a, const ProcMapEntry& b);
int OpenDescriptorCount();

// Wraps the POSIX platform; records blocks and fails on request.
class TestPlatform : public CbfPlatform {
 public:
  int CaptureTimes(const char* path, CbfFileTimes* times) override;
  int RestoreTimes(const char* path, const CbfFileTimes& times) override;
  void* AllocZeroed(size_t bytes) override;
  void Free(void* block) override;
  bool SetStreamLength(FILE* stream, uint64_t length) override;
  // Back to no faults and no records.
  void Reset() {
    failAllocation = captureResult = restoreResult = restores = freedUnknown = 0;
    failCut = false;
    allocations.clear();
    live.clear();
  }

  int failAllocation = 0;   // fail the n-th allocation (1-based); 0: never
  int captureResult = 0;    // returned instead of capturing, when non-zero
  int restoreResult = 0;    // returned instead of restoring, when non-zero
  bool failCut = false;

  std::vector<size_t> allocations;  // sizes asked for, in order
  std::set<void*> live;             // blocks not yet freed
  int restores = 0;
  int freedUnknown = 0;             // Free of a block we never gave out

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
  int Run(Walk walk) {
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

#endif  // CBF_TEST_FILES_H
