// libFuzzer target: OpenCbf on arbitrary bytes, then a merge of a second
// arbitrary file into the first, checked against the merge's guarantees and
// against the reference walk (the merge as it was before it was planned):
// same result, the same bytes on success, and no byte written on a refusal.
//
// Input: a flags byte, a 16-bit split point, then the bytes of the two
// files. A flag bit turns a file's bytes into a CBF with a valid header and
// a few entries described compactly, so that merges get past the header
// checks and reach the block placement.
#include "cbf/cbf_format.h"
#include "cbf/cbf_posix_platform.h"
#include "cbf/cbf_walks.h"
#include "tests/cbf/cbf_reference_merge.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

using namespace setupsup;

namespace {

using Bytes = std::vector<unsigned char>;

[[noreturn]] void Fail(const char* what)
{
    fprintf(stderr, "cbf_fuzz: invariant broken: %s\n", what);
    abort();
}

void Require(bool holds, const char* what)
{
    if (!holds)
        Fail(what);
}

// The scratch directory, made once. Plain storage, not a std::string, so
// that it still exists when the exit handler removes the files.
char g_directory[64];

void RemoveScratch()
{
    char path[80];
    snprintf(path, sizeof path, "%s/a.cbf", g_directory);
    unlink(path);
    snprintf(path, sizeof path, "%s/b.cbf", g_directory);
    unlink(path);
    snprintf(path, sizeof path, "%s/c.cbf", g_directory);
    unlink(path);
    rmdir(g_directory);
}

std::string Directory()
{
    if (g_directory[0] == '\0') {
        snprintf(g_directory, sizeof g_directory, "%s/cbf-fuzz-XXXXXX",
                 access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        if (mkdtemp(g_directory) == nullptr)
            Fail("no scratch directory");
        atexit(RemoveScratch);
    }
    return g_directory;
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    FILE* out = fopen(path.c_str(), "wb");
    if (out == nullptr)
        Fail("cannot write scratch file");
    if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size())
        Fail("short write");
    if (fclose(out) != 0)
        Fail("close");
}

Bytes ReadFile(const std::string& path)
{
    Bytes bytes;
    FILE* in = fopen(path.c_str(), "rb");
    if (in == nullptr)
        Fail("cannot read scratch file");
    unsigned char chunk[8192];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, in)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    fclose(in);
    return bytes;
}

uint32_t Word(const Bytes& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

void PutWord(Bytes* b, size_t at, uint32_t word)
{
    for (int k = 0; k < 4; ++k)
        (*b)[at + k] = static_cast<unsigned char>(word >> (8 * k));
}

// The map of a file whose header has passed OpenCbf.
std::vector<ProcMapEntry> MapOf(const Bytes& file, int32_t count)
{
    std::vector<ProcMapEntry> map(count);
    if (file.size() < CbfDataStart(count))
        return {};
    for (int32_t i = 0; i < count; ++i) {
        const size_t at = kCbfMapOffset + static_cast<size_t>(i) * kCbfEntrySize;
        map[i] = {Word(file, at),      Word(file, at + 4),  Word(file, at + 8),
                  Word(file, at + 12), Word(file, at + 16), Word(file, at + 20)};
    }
    return map;
}

// A valid header and 250..253 entries; records of 7 bytes (index, present,
// offset16, length16, length flag) set entries; the rest is the data region.
// Offsets below 256 are absolute (header and map), others relative to the
// data region, so that placement sees both good and hostile offsets.
Bytes Synthesize(const unsigned char* data, size_t size)
{
    const int32_t count = 250 + (size > 0 ? data[0] % 4 : 0);
    const size_t records = size > 1 ? data[1] % 17 : 0;
    const uint64_t dataStart = CbfDataStart(count);
    Bytes file(dataStart, 0);
    memcpy(file.data(), kCbfVersion, kCbfVersionBytes);
    PutWord(&file, 9, kCbfMagic);
    PutWord(&file, 13, kCbfRevision);
    PutWord(&file, 17, static_cast<uint32_t>(count));
    size_t at = 2;
    for (size_t r = 0; r < records && at + 7 <= size; ++r, at += 7) {
        const unsigned char* rec = data + at;
        const size_t slot = kCbfMapOffset + (rec[0] % count) * kCbfEntrySize;
        const uint32_t offset16 = rec[2] | rec[3] << 8;
        const uint32_t offset = offset16 < 256 ? offset16 : static_cast<uint32_t>(dataStart + offset16 - 256);
        uint32_t length = rec[4] | rec[5] << 8;
        if (rec[6] == 0xFF)
            length = 0xFFFFFFFF - rec[5]; // near 2^32
        PutWord(&file, slot + 0, rec[0]);
        PutWord(&file, slot + 8, rec[1] % 3); // 0, 1, or 2: a non-canonical present
        PutWord(&file, slot + 16, rec[1] & 0x80 ? 0 : offset);
        PutWord(&file, slot + 20, length);
    }
    if (at < size)
        file.insert(file.end(), data + at, data + size);
    return file;
}

// Size query and read must agree and never misbehave on any bytes.
void CheckOpen(const std::string& path)
{
    CbfHandle handle{};
    uint32_t size = 0;
    const int query = OpenCbf(path.c_str(), 0, nullptr, &size, &handle);
    Require(query >= 0 && query <= 6, "size query result");
    Require(handle.stream == nullptr, "size query leaves no stream");
    if (query != 0)
        return;
    Require(size >= 6000 && size <= kCbfLargestMap && size % kCbfEntrySize == 0, "map size");
    std::vector<ProcMapEntry> map(size / kCbfEntrySize);
    const int read = OpenCbf(path.c_str(), 0, map.data(), &size, &handle);
    Require(read == 0 || read == 5, "read result");
    if (read == 0) {
        uint64_t at = 0;
        Require(CbfTell(handle.stream, &at) && at == kCbfMapOffset + size, "stream after map");
        Require(CloseCbf(&handle) == 1, "close");
    }
    Require(handle.stream == nullptr && CloseCbf(&handle) == 0, "closed");
}

struct Region {
    uint64_t start, end;
};

// On success: header kept, never shorter, every entry either as the source
// gave it or as before, every copied block inside the data region, holding
// the source's bytes, overlapping no other copied block, and no byte of an
// entry the merge left alone overwritten.
void CheckMerged(const Bytes& before, const Bytes& after, const Bytes& source)
{
    Require(after.size() >= before.size(), "merge made the file shorter");
    Require(memcmp(after.data(), before.data(), kCbfMapOffset) == 0, "header changed");
    const int32_t count = static_cast<int32_t>(Word(before, 17));
    const int32_t sourceCount = static_cast<int32_t>(Word(source, 17));
    const auto oldMap = MapOf(before, count), newMap = MapOf(after, count);
    const auto sourceMap = MapOf(source, sourceCount);
    Require(!oldMap.empty() && !sourceMap.empty() && sourceCount <= count, "maps");
    const uint64_t dataStart = CbfDataStart(count);
    std::vector<Region> copied;
    std::vector<bool> merged(count, false);
    for (int32_t i = 0; i < count; ++i) {
        const ProcMapEntry& t = newMap[i];
        if (i >= sourceCount || sourceMap[i].present == 0) {
            Require(memcmp(&t, &oldMap[i], sizeof t) == 0, "untouched entry changed");
            continue;
        }
        const ProcMapEntry& s = sourceMap[i];
        merged[i] = true;
        Require(t.present == 1 && t.info0 == s.info0 && t.info1 == s.info1 && t.info3 == s.info3 &&
                    t.blockLength == s.blockLength,
                "merged entry words");
        if (s.blockOffset == 0) {
            Require(t.blockOffset == 0, "entry without block got one");
            continue;
        }
        const Region r{t.blockOffset, uint64_t{t.blockOffset} + t.blockLength + 4};
        Require(r.start >= dataStart && r.end <= after.size(), "block outside data region");
        Require(memcmp(&after[r.start], &source[s.blockOffset], r.end - r.start) == 0, "block bytes");
        for (const Region& other : copied) {
            Require(!(r.start < other.end && other.start < r.end), "merged blocks overlap");
        }
        copied.push_back(r);
    }
    for (int32_t j = 0; j < count; ++j) {
        if (merged[j] || oldMap[j].blockOffset == 0)
            continue;
        const uint64_t start = std::max<uint64_t>(oldMap[j].blockOffset, dataStart);
        const uint64_t end =
            std::min<uint64_t>(uint64_t{oldMap[j].blockOffset} + oldMap[j].blockLength + 4, before.size());
        if (start < end)
            Require(memcmp(&after[start], &before[start], end - start) == 0, "block overwritten");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const unsigned flags = data[0];
    const size_t rest = size - 3;
    const size_t split = std::min<size_t>(data[1] | data[2] << 8, rest);
    const unsigned char* first = data + 3;
    const unsigned char* second = first + split;
    const Bytes a = flags & 1 ? Synthesize(first, split) : Bytes(first, first + split);
    const Bytes b = flags & 2 ? Synthesize(second, rest - split) : Bytes(second, data + size);

    const std::string target = Directory() + "/a.cbf", source = Directory() + "/b.cbf";
    const std::string walked = Directory() + "/c.cbf";
    WriteFile(target, a);
    WriteFile(source, b);
    WriteFile(walked, a);
    CheckOpen(target);

    PosixCbfPlatform platform;
    const int result = MergeCbfWalk(platform, source.c_str(), target.c_str());
    const Bytes after = ReadFile(target);
    const int expected = setupsup_test::reference::Merge(source.c_str(), walked.c_str());
    Require(result == expected, "result differs from the reference walk");
    if (result == kCbfWalkOk)
        Require(after == ReadFile(walked), "bytes differ from the reference walk");
    if (result == kCbfWalkTellFailed || result == kCbfWalkReadFailed)
        Require(after == a, "target written before the merge was refused");
    switch (result) {
        case kCbfWalkOk:
            CheckMerged(a, after, b);
            break;
        case kCbfWalkCannotOpen:
        case kCbfWalkNoMemory:
        case kCbfWalkBadFile:
            Require(after == a, "target changed by a refused merge");
            break;
        case kCbfWalkSeekFailed:
        case kCbfWalkTellFailed:
        case kCbfWalkReadFailed:
        case kCbfWalkWriteFailed:
            Require(after.size() >= a.size() &&
                        memcmp(after.data(), a.data(), CbfDataStart(static_cast<int32_t>(Word(a, 17)))) == 0,
                    "header or map changed by a failed walk");
            break;
        case kCbfWalkMapWriteFailed:
            break;
        default:
            Fail("undocumented result");
    }
    return 0;
}
