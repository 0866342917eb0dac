// The merge walk as it was before merges were planned, kept as the reference
// the planned merge must agree with byte for byte: it copies each block, in
// index order, as soon as it has placed it. Header-only, so that the native
// tests and the fuzz target share it. It runs without the time-stamp frame
// and allocates through `new`; results are the walk's own codes.
#pragma once

#include "cbf/cbf_format.h"
#include "cbf/cbf_walks.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace setupsup_test::reference {

using setupsup::ProcMapEntry;

// A CBF file with its map loaded, closed when it goes.
struct Loaded {
    std::vector<ProcMapEntry> map;
    setupsup::CbfHandle handle{};
    ~Loaded() { setupsup::CloseCbf(&handle); }
    int Load(const char* path, int readUpdate)
    {
        uint32_t size = 0;
        if (setupsup::OpenCbf(path, 0, nullptr, &size, &handle) != setupsup::kCbfOpenOk)
            return setupsup::kCbfWalkBadFile;
        map.resize(size / setupsup::kCbfEntrySize);
        if (setupsup::OpenCbf(path, readUpdate, map.data(), &size, &handle) != setupsup::kCbfOpenOk)
            return setupsup::kCbfWalkBadFile;
        return setupsup::kCbfWalkOk;
    }
};

inline bool FitsInPlace(const Loaded& target, int32_t index, uint32_t length, uint64_t originalLength)
{
    const ProcMapEntry& old = target.map[index];
    if (length > old.blockLength)
        return false;
    const uint64_t start = old.blockOffset, end = start + old.blockLength + 4;
    if (start < setupsup::CbfDataStart(target.handle.count) || end > originalLength)
        return false;
    for (int32_t j = 0; j < target.handle.count; ++j) {
        const ProcMapEntry& other = target.map[j];
        if (j == index || other.blockOffset == 0)
            continue;
        if (start < uint64_t{other.blockOffset} + other.blockLength + 4 && other.blockOffset < end)
            return false;
    }
    return true;
}

// Seek, tell, then the copy in chunks of 8192 bytes and a flush, per block.
inline int CopyBlock(Loaded& source, Loaded& target, int32_t index, const ProcMapEntry& block, uint64_t originalLength,
                     uint32_t* newOffset)
{
    FILE* to = target.handle.stream;
    FILE* from = source.handle.stream;
    const bool inPlace = FitsInPlace(target, index, block.blockLength, originalLength);
    if (!(inPlace ? setupsup::CbfSeek(to, target.map[index].blockOffset) : setupsup::CbfSeekEnd(to)))
        return setupsup::kCbfWalkSeekFailed;
    uint64_t position = 0;
    if (!setupsup::CbfTell(to, &position) || position > UINT32_MAX)
        return setupsup::kCbfWalkTellFailed;
    if (!setupsup::CbfSeek(from, block.blockOffset))
        return setupsup::kCbfWalkSeekFailed;
    std::vector<unsigned char> buffer(setupsup::kCbfCopyBufferSize);
    for (uint64_t total = uint64_t{block.blockLength} + 4; total > 0;) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(total, buffer.size()));
        if (fread(buffer.data(), 1, chunk, from) != chunk)
            return setupsup::kCbfWalkReadFailed;
        if (fwrite(buffer.data(), 1, chunk, to) != chunk)
            return setupsup::kCbfWalkWriteFailed;
        total -= chunk;
    }
    if (fflush(to) != 0)
        return setupsup::kCbfWalkWriteFailed;
    *newOffset = static_cast<uint32_t>(position);
    return setupsup::kCbfWalkOk;
}

inline int Merge(const char* sourcePath, const char* targetPath)
{
    Loaded target, source;
    int result = target.Load(targetPath, 1);
    if (result == setupsup::kCbfWalkOk)
        result = source.Load(sourcePath, 0);
    if (result != setupsup::kCbfWalkOk)
        return result;
    if (source.handle.count > target.handle.count)
        return setupsup::kCbfWalkBadFile;
    uint64_t originalLength = 0;
    if (!setupsup::CbfSeekEnd(target.handle.stream))
        return setupsup::kCbfWalkSeekFailed;
    if (!setupsup::CbfTell(target.handle.stream, &originalLength))
        return setupsup::kCbfWalkTellFailed;
    for (int32_t i = 0; i < source.handle.count; ++i) {
        const ProcMapEntry entry = source.map[i];
        if (entry.present == 0)
            continue;
        uint32_t offset = 0;
        if (entry.blockOffset != 0) {
            result = CopyBlock(source, target, i, entry, originalLength, &offset);
            if (result != setupsup::kCbfWalkOk)
                return result;
        }
        ProcMapEntry& slot = target.map[i];
        slot = entry;
        slot.present = 1;
        if (entry.blockOffset != 0)
            slot.blockOffset = offset;
    }
    setupsup::CloseCbf(&source.handle);
    if (!setupsup::WriteProcMap(target.map.data(), &target.handle))
        return setupsup::kCbfWalkMapWriteFailed;
    return setupsup::kCbfWalkOk;
}

} // namespace setupsup_test::reference
