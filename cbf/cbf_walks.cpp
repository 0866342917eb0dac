// Merge, prune and truncate walks over CBF files.
//
// Every walk has the same frame: capture the target's times, do the work
// with every file and block owned by a guard, and restore the times only
// after the work's scope has closed all streams. A failure inside the work
// returns at once; the guards release what was opened and the times are
// then left as the work left them.
#include "cbf/cbf_walks.h"

#include "cbf/cbf_format.h"
#include "frame/invariants.h"

#include <algorithm>

namespace setupsup {

namespace {

// One block obtained from the platform, given back when the guard ends.
class PlatformBlock {
public:
    explicit PlatformBlock(CbfPlatform& platform) : platform_(platform) {}
    ~PlatformBlock() { Reset(); }
    PlatformBlock(const PlatformBlock&) = delete;
    PlatformBlock& operator=(const PlatformBlock&) = delete;

    bool Allocate(size_t bytes)
    {
        Reset();
        block_ = platform_.AllocZeroed(bytes);
        return block_ != nullptr;
    }
    void Reset()
    {
        if (block_ != nullptr)
            platform_.Free(block_);
        block_ = nullptr;
    }
    void* get() const { return block_; }

private:
    CbfPlatform& platform_;
    void* block_ = nullptr;
};

// A CBF file with its map loaded: the map block and the open handle.
// Members end in reverse order: the file is closed, then the map freed.
class LoadedCbf {
public:
    explicit LoadedCbf(CbfPlatform& platform) : map_(platform) {}
    ~LoadedCbf() { CloseCbf(&handle_); }
    LoadedCbf(const LoadedCbf&) = delete;
    LoadedCbf& operator=(const LoadedCbf&) = delete;

    // Size query, allocation of exactly that size, then the read. 0, or 1 when
    // the map cannot be allocated, or 3 for any OpenCbf failure.
    template <typename Char>
    int Load(const Char* path, int queryUpdate, int readUpdate)
    {
        uint32_t mapSize = 0;
        if (OpenCbf(path, queryUpdate, nullptr, &mapSize, &handle_) != kCbfOpenOk) {
            return kCbfWalkBadFile;
        }
        if (!map_.Allocate(mapSize))
            return kCbfWalkNoMemory;
        // On failure the map goes with the guard, like every other block.
        if (OpenCbf(path, readUpdate, entries(), &mapSize, &handle_) != kCbfOpenOk) {
            return kCbfWalkBadFile;
        }
        return kCbfWalkOk;
    }

    // Closes the file and frees the map before the guard would.
    void Release()
    {
        CloseCbf(&handle_);
        map_.Reset();
    }

    ProcMapEntry* entries() const { return static_cast<ProcMapEntry*>(map_.get()); }
    int32_t count() const { return handle_.count; }
    FILE* stream() const { return handle_.stream; }
    CbfHandle* handle() { return &handle_; }

private:
    PlatformBlock map_;
    CbfHandle handle_{};
};

// The walk's result for how a capture or restore ended.
int TimesResult(FileTimesResult result)
{
    switch (result) {
        case FileTimesResult::kOk:
            return kCbfWalkOk;
        case FileTimesResult::kCannotOpen:
            return kCbfWalkCannotOpen;
        case FileTimesResult::kFailed:
            break;
    }
    return kCbfWalkBadFile;
}

// ---- Merge ----------------------------------------------------------------
//
// A merge first plans and then writes. The plan decides, in index order,
// where every present block goes and records it in the target's map in
// memory; nothing is written while planning, and a source whose blocks do
// not all lie inside it is refused there. The blocks are then written in two
// runs: those appended past the target's original end, in index order, then
// those that go over their old blocks, and last the map. So a failure while
// appending leaves every byte the file had, and its map, as they were.

// The bytes a block occupies: [start, end), formed in 64 bits so that a
// length word near 2^32 cannot wrap round to a short block.
struct Region {
    uint64_t start;
    uint64_t end;
};

Region BlockRegion(const ProcMapEntry& entry)
{
    return {entry.blockOffset, uint64_t{entry.blockOffset} + entry.blockLength + 4};
}

bool Overlaps(Region a, Region b) { return a.start < b.end && b.start < a.end; }

// The most entries a map can hold.
constexpr int32_t kCbfMaxEntries = static_cast<int32_t>(kCbfLargestMap / kCbfEntrySize);

// The target entries whose old block shares a byte with another entry's
// block (entries with a block offset, present or not), found from one sort
// of the map by offset. An entry not marked needs no scan of the map in the
// in-place test: while a merge runs, a block is only shortened where it
// lies, moved past the file's original end or dropped, so no block can come
// to overlap an old block that overlapped none when the merge began.
class OverlapIndex {
public:
    void Build(const ProcMapEntry* map, int32_t count)
    {
        uint16_t order[kCbfMaxEntries];
        int32_t n = 0;
        for (int32_t i = 0; i < std::min(count, kCbfMaxEntries); ++i) {
            if (map[i].blockOffset != 0)
                order[n++] = static_cast<uint16_t>(i);
        }
        std::sort(order, order + n, [map](uint16_t a, uint16_t b) { return map[a].blockOffset < map[b].blockOffset; });
        // In offset order a block overlaps an earlier one exactly when it
        // starts before the furthest end so far, and a later one exactly
        // when the next block starts before its own end.
        uint64_t reach = 0;
        for (int32_t k = 0; k < n; ++k) {
            const Region region = BlockRegion(map[order[k]]);
            const bool earlier = k > 0 && region.start < reach;
            const bool later = k + 1 < n && map[order[k + 1]].blockOffset < region.end;
            if (earlier || later)
                marked_[order[k] / 8] |= static_cast<unsigned char>(1u << (order[k] % 8));
            reach = std::max(reach, region.end);
        }
    }
    bool MayOverlap(int32_t index) const
    {
        return index >= kCbfMaxEntries || (marked_[index / 8] >> (index % 8) & 1) != 0;
    }

private:
    unsigned char marked_[kCbfMaxEntries / 8 + 1] = {};
};

// Whether source block `length` may overwrite target entry `index`'s old
// block. The length words alone are not enough: an entry without a block
// would aim the write at the header, and a truncated file's entries keep
// offsets past its end that an appended block may already cover. So the old
// region must lie in the data region of the file as it stood when the merge
// began and be shared with no other entry that has a block offset, present
// or not (the map as updated so far). On a well-formed file this reduces to
// the plain length test.
bool FitsInPlace(const LoadedCbf& target, const OverlapIndex& overlaps, int32_t index, uint32_t length,
                 uint64_t originalLength)
{
    const ProcMapEntry* map = target.entries();
    const ProcMapEntry& old = map[index];
    if (length > old.blockLength)
        return false;
    const Region region = BlockRegion(old);
    if (region.start < CbfDataStart(target.count()) || region.end > originalLength) {
        return false;
    }
    if (!overlaps.MayOverlap(index))
        return true;
    for (int32_t j = 0; j < target.count(); ++j) {
        if (j == index || map[j].blockOffset == 0)
            continue;
        if (Overlaps(region, BlockRegion(map[j])))
            return false;
    }
    return true;
}

// Decides where each present source block goes, in index order, and records
// the outcome in the target's map in memory: a block that fits goes over the
// entry's old block, any other one at the end of the file as the blocks
// appended before it have left it. Nothing is written. 5 when an appended
// block would start past what the 32-bit offset word holds; 6 when a block
// does not lie wholly inside the source, which copying would find out only
// after writing part of the merge.
int PlanMerge(const LoadedCbf& source, LoadedCbf& target, const OverlapIndex& overlaps, uint64_t originalLength,
              uint64_t sourceLength)
{
    // Entry i of the update lands in entry i of the installed map, which has
    // room for its own entries only (MergeFiles refuses a larger update).
    SETUPSUP_ASSERT(source.count() <= target.count());
    uint64_t end = originalLength;
    for (int32_t i = 0; i < source.count(); ++i) {
        const ProcMapEntry entry = source.entries()[i];
        if (entry.present == 0)
            continue;
        uint32_t offset = 0;
        if (entry.blockOffset != 0) {
            const Region block = BlockRegion(entry);
            if (FitsInPlace(target, overlaps, i, entry.blockLength, originalLength)) {
                offset = target.entries()[i].blockOffset;
            } else {
                if (end > UINT32_MAX)
                    return kCbfWalkTellFailed;
                offset = static_cast<uint32_t>(end);
                end += block.end - block.start;
            }
            if (block.end > sourceLength)
                return kCbfWalkReadFailed;
        }
        ProcMapEntry& slot = target.entries()[i];
        slot = entry;
        slot.present = 1;
        if (entry.blockOffset != 0)
            slot.blockOffset = offset;
    }
    return kCbfWalkOk;
}

// Copies `total` bytes between the streams' current positions.
int CopyBytes(FILE* from, FILE* to, uint64_t total, unsigned char* buffer)
{
    while (total > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(total, kCbfCopyBufferSize));
        if (fread(buffer, 1, chunk, from) != chunk)
            return kCbfWalkReadFailed;
        if (fwrite(buffer, 1, chunk, to) != chunk)
            return kCbfWalkWriteFailed;
        total -= chunk;
    }
    return kCbfWalkOk;
}

// Writes out what the target's buffer holds. A full disk must be reported
// as the write failure it is: a seek or a close writes the buffer too, but
// some C runtimes let it fail there without a word.
int FlushTarget(FILE* target) { return fflush(target) == 0 ? kCbfWalkOk : kCbfWalkWriteFailed; }

// Where a stream stands after the blocks copied so far, so that a block
// that starts where the previous one ended needs no seek (a seek drops the
// stream's buffer, and on the target it writes the buffer out).
struct StreamPosition {
    uint64_t at = 0;
    bool known = false;
    bool Is(uint64_t offset) const { return known && at == offset; }
};

// Blocks that follow one another in the source and land one after another
// in the target: one stretch of bytes, copied in whole copy buffers rather
// than in a pair of stream calls per block (a file of small blocks spent
// most of its merge in those calls).
struct Stretch {
    uint64_t from = 0; // where it starts in the source
    uint64_t to = 0;   // where it goes in the target
    uint64_t bytes = 0;
    bool Continues(uint64_t blockFrom, uint64_t blockTo) const
    {
        return bytes > 0 && from + bytes == blockFrom && to + bytes == blockTo;
    }
};

// The copying of one run of WriteBlocks: both streams' positions and the
// copy buffer, allocated by the run's first copy and kept to its end (one
// zero-filled allocation per block cost more than the copy of a small one).
class RunCopier {
public:
    RunCopier(CbfPlatform& platform, FILE* source, FILE* target) : source_(source), target_(target), buffer_(platform)
    {}

    // Copies the stretch, seeking each stream only where it does not stand
    // there already; the target's buffer is written out before its seek so
    // that a failed write is reported as 7.
    int Copy(const Stretch& stretch)
    {
        if (!to_.Is(stretch.to)) {
            if (to_.known && FlushTarget(target_) != kCbfWalkOk)
                return kCbfWalkWriteFailed;
            if (!CbfSeek(target_, stretch.to))
                return kCbfWalkSeekFailed;
        }
        if (buffer_.get() == nullptr && !buffer_.Allocate(kCbfCopyBufferSize))
            return kCbfWalkNoMemory;
        if (!from_.Is(stretch.from) && !CbfSeek(source_, stretch.from))
            return kCbfWalkSeekFailed;
        const int result = CopyBytes(source_, target_, stretch.bytes, static_cast<unsigned char*>(buffer_.get()));
        if (result != kCbfWalkOk)
            return result;
        from_ = {stretch.from + stretch.bytes, true};
        to_ = {stretch.to + stretch.bytes, true};
        return kCbfWalkOk;
    }

private:
    FILE* source_;
    FILE* target_;
    StreamPosition from_, to_;
    PlatformBlock buffer_;
};

// Copies the planned blocks of one run, in index order: those placed past
// the target's original end (`appended`), or those placed over their old
// blocks. Neighbouring blocks are copied as one stretch; the target's
// buffer is written out at the end, so that each failed write is reported
// as 7.
int WriteBlocks(CbfPlatform& platform, const LoadedCbf& source, const LoadedCbf& target, uint64_t originalLength,
                bool appended)
{
    RunCopier copier(platform, source.stream(), target.stream());
    Stretch stretch;
    for (int32_t i = 0; i < source.count(); ++i) {
        const ProcMapEntry& entry = source.entries()[i];
        if (entry.present == 0 || entry.blockOffset == 0)
            continue;
        const uint64_t offset = target.entries()[i].blockOffset;
        if ((offset >= originalLength) != appended)
            continue;
        const uint64_t bytes = uint64_t{entry.blockLength} + 4;
        if (stretch.Continues(entry.blockOffset, offset)) {
            stretch.bytes += bytes;
            continue;
        }
        if (stretch.bytes > 0) {
            const int result = copier.Copy(stretch);
            if (result != kCbfWalkOk)
                return result;
        }
        stretch = {entry.blockOffset, offset, bytes};
    }
    if (stretch.bytes > 0) {
        const int result = copier.Copy(stretch);
        if (result != kCbfWalkOk)
            return result;
    }
    return FlushTarget(target.stream());
}

// Length of a file before anything is written to it.
int FileLength(FILE* stream, uint64_t* length)
{
    if (!CbfSeekEnd(stream))
        return kCbfWalkSeekFailed;
    if (!CbfTell(stream, length))
        return kCbfWalkTellFailed;
    return kCbfWalkOk;
}

// Loads the two maps in the order merge and prune need: the target's, open
// for update, then the source's, open for reading.
template <typename Char>
int LoadBothMaps(LoadedCbf* target, const Char* targetPath, LoadedCbf* source, const Char* sourcePath)
{
    int result = target->Load(targetPath, 0, 1);
    if (result != kCbfWalkOk)
        return result;
    return source->Load(sourcePath, 0, 0);
}

// Plans, then writes the appended blocks, the blocks in place and the map.
// A failure before the blocks in place leaves the target's bytes and map as
// they were (appended bytes stay past the old end as dead space); only a
// write that fails among the blocks in place can leave a replaced block
// under the old map.
template <typename Char>
int MergeFiles(CbfPlatform& platform, const Char* sourcePath, const Char* targetPath)
{
    LoadedCbf target(platform);
    LoadedCbf source(platform);
    int result = LoadBothMaps(&target, targetPath, &source, sourcePath);
    if (result != kCbfWalkOk)
        return result;
    // The target's map has room for its own entries only; dropping the
    // update's extra procs would lose them without a word, so refuse.
    if (source.count() > target.count())
        return kCbfWalkBadFile;
    uint64_t originalLength = 0, sourceLength = 0;
    result = FileLength(target.stream(), &originalLength);
    if (result == kCbfWalkOk)
        result = FileLength(source.stream(), &sourceLength);
    if (result != kCbfWalkOk)
        return result;
    OverlapIndex overlaps;
    overlaps.Build(target.entries(), target.count());
    result = PlanMerge(source, target, overlaps, originalLength, sourceLength);
    if (result == kCbfWalkOk)
        result = WriteBlocks(platform, source, target, originalLength, true);
    if (result == kCbfWalkOk)
        result = WriteBlocks(platform, source, target, originalLength, false);
    if (result != kCbfWalkOk)
        return result;
    source.Release();
    if (!WriteProcMap(target.entries(), target.handle()))
        return kCbfWalkMapWriteFailed;
    return kCbfWalkOk;
}

// ---- Prune ----------------------------------------------------------------

template <typename Char>
int PruneFiles(CbfPlatform& platform, const Char* sourcePath, const Char* targetPath)
{
    LoadedCbf target(platform);
    LoadedCbf source(platform);
    const int result = LoadBothMaps(&target, targetPath, &source, sourcePath);
    if (result != kCbfWalkOk)
        return result;
    // Entries past the target's count have nowhere to go; removing is safe
    // to do for the indices both maps share.
    const int32_t common = std::min(source.count(), target.count());
    for (int32_t i = 0; i < common; ++i) {
        const ProcMapEntry& named = source.entries()[i];
        if (named.blockOffset == 0 && named.blockLength == 0)
            continue;
        ProcMapEntry& slot = target.entries()[i];
        slot.present = 0;
        slot.blockOffset = 0;
        slot.blockLength = 0;
    }
    source.Release();
    if (!WriteProcMap(target.entries(), target.handle()))
        return kCbfWalkMapWriteFailed;
    return kCbfWalkOk;
}

// ---- Truncate -------------------------------------------------------------

template <typename Char>
int TruncateFile(CbfPlatform& platform, const Char* targetPath)
{
    LoadedCbf target(platform);
    int result = target.Load(targetPath, 1, 1);
    if (result != kCbfWalkOk)
        return result;
    for (int32_t i = 0; i < target.count(); ++i)
        target.entries()[i].present = 0;
    if (!WriteProcMap(target.entries(), target.handle()))
        return kCbfWalkTruncMapFailed;
    // WriteProcMap leaves the stream at the end of the map: cut there.
    if (!platform.SetStreamLength(target.stream(), CbfDataStart(target.count()))) {
        return kCbfWalkCutFailed;
    }
    return kCbfWalkOk;
}

// ---- Frame ----------------------------------------------------------------

template <typename Char>
using TargetWork = int (*)(CbfPlatform&, const Char*, const Char*);

// Capture, work, restore. `work` has closed every stream on the target by
// the time it returns, so the restore's exclusive open can succeed.
template <typename Char>
int WithTimesKept(CbfPlatform& platform, const Char* sourcePath, const Char* targetPath, TargetWork<Char> work)
{
    SETUPSUP_ASSERT(targetPath != nullptr);
    CbfFileTimes times{};
    int result = TimesResult(platform.CaptureTimes(targetPath, &times));
    if (result != kCbfWalkOk)
        return result;
    result = work(platform, sourcePath, targetPath);
    if (result != kCbfWalkOk)
        return result;
    return TimesResult(platform.RestoreTimes(targetPath, times));
}

template <typename Char>
int TruncateWork(CbfPlatform& platform, const Char*, const Char* targetPath)
{
    return TruncateFile(platform, targetPath);
}

} // namespace

template <typename Char>
int MergeCbfWalk(CbfPlatform& platform, const Char* sourcePath, const Char* targetPath)
{
    return WithTimesKept<Char>(platform, sourcePath, targetPath, MergeFiles<Char>);
}

template <typename Char>
int PruneCbfWalk(CbfPlatform& platform, const Char* sourcePath, const Char* targetPath)
{
    return WithTimesKept<Char>(platform, sourcePath, targetPath, PruneFiles<Char>);
}

template <typename Char>
int TruncateCbfWalk(CbfPlatform& platform, const Char* targetPath)
{
    return WithTimesKept<Char>(platform, nullptr, targetPath, TruncateWork<Char>);
}

template int MergeCbfWalk(CbfPlatform&, const char*, const char*);
template int PruneCbfWalk(CbfPlatform&, const char*, const char*);
template int TruncateCbfWalk(CbfPlatform&, const char*);
#ifdef _WIN32
template int MergeCbfWalk(CbfPlatform&, const wchar_t*, const wchar_t*);
template int PruneCbfWalk(CbfPlatform&, const wchar_t*, const wchar_t*);
template int TruncateCbfWalk(CbfPlatform&, const wchar_t*);
#endif

} // namespace setupsup
