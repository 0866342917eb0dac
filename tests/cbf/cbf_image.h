// CBF images built byte by byte, independently of the code under test, and
// small file helpers; shared by the native tests and the Windows tests of the
// exports.
#pragma once

#include "cbf/cbf_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace setupsup_test {

// The test helpers name the library's CBF types unqualified.
using namespace setupsup;

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
    CbfImage& Magic(uint32_t magic)
    {
        magic_ = magic;
        return *this;
    }
    CbfImage& Revision(uint32_t revision)
    {
        revision_ = revision;
        return *this;
    }
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

} // namespace setupsup_test
