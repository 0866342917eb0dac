// Merge, prune and truncate walks over CBF files.
//
// Every walk has the same frame: capture the target's times, do the work
// with every file and block owned by a guard, and restore the times only
// after the work's scope has closed all streams. A failure inside the work
// returns at once; the guards release what was opened and the times are
// then left as the work left them.
#include "cbf/cbf_walks.h"

#include "cbf/cbf_format.h"

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
    int Load(const char* path, int queryUpdate, int readUpdate)
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

// The platform promises 0, -1 or 3; anything else is still a failure, and
// must never pass for success.
int TimesResult(int result)
{
    if (result == kCbfWalkOk || result == kCbfWalkCannotOpen)
        return result;
    return kCbfWalkBadFile;
}

// ---- Merge ----------------------------------------------------------------

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

// Whether source block `length` may overwrite target entry `index`'s old
// block. The length words alone are not enough: an entry without a block
// would aim the write at the header, and a truncated file's entries keep
// offsets past its end that an appended block may already cover. So the old
// region must lie in the data region of the file as it stood when the merge
// began and be shared with no other entry that has a block offset, present
// or not (the map as updated so far). On a well-formed file this reduces to
// the plain length test.
bool FitsInPlace(const LoadedCbf& target, int32_t index, uint32_t length, uint64_t originalLength)
{
    const ProcMapEntry* map = target.entries();
    const ProcMapEntry& old = map[index];
    if (length > old.blockLength)
        return false;
    const Region region = BlockRegion(old);
    if (region.start < CbfDataStart(target.count()) || region.end > originalLength) {
        return false;
    }
    for (int32_t j = 0; j < target.count(); ++j) {
        if (j == index || map[j].blockOffset == 0)
            continue;
        if (Overlaps(region, BlockRegion(map[j])))
            return false;
    }
    return true;
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

// Places source entry `block`'s data in the target, in place or at the end,
// and reports the offset it now starts at.
int CopyBlock(CbfPlatform& platform, const LoadedCbf& source, LoadedCbf& target, int32_t index,
              const ProcMapEntry& block, uint64_t originalLength, uint32_t* newOffset)
{
    const bool inPlace = FitsInPlace(target, index, block.blockLength, originalLength);
    const bool sought =
        inPlace ? CbfSeek(target.stream(), target.entries()[index].blockOffset) : CbfSeekEnd(target.stream());
    if (!sought)
        return kCbfWalkSeekFailed;
    uint64_t position = 0;
    // An offset that does not fit the 32-bit offset word cannot be recorded.
    if (!CbfTell(target.stream(), &position) || position > UINT32_MAX) {
        return kCbfWalkTellFailed;
    }
    PlatformBlock buffer(platform);
    if (!buffer.Allocate(kCbfCopyBufferSize))
        return kCbfWalkNoMemory;
    if (!CbfSeek(source.stream(), block.blockOffset))
        return kCbfWalkSeekFailed;
    int result = CopyBytes(source.stream(), target.stream(), uint64_t{block.blockLength} + 4,
                           static_cast<unsigned char*>(buffer.get()));
    if (result != kCbfWalkOk)
        return result;
    // Push the block out now, so that a full disk is this block's write
    // failure rather than something a later close silently drops.
    if (fflush(target.stream()) != 0)
        return kCbfWalkWriteFailed;
    *newOffset = static_cast<uint32_t>(position);
    return kCbfWalkOk;
}

// The walk over the source's entries by index. On a failure the map in the
// file has not been rewritten, but a block written in place has already
// replaced (part of) the old block that the file's map still describes.
// That state is left as it is: the caller learns of it from the code, and
// repairing it would need the old bytes, which the merge does not keep.
int MergeEntries(CbfPlatform& platform, const LoadedCbf& source, LoadedCbf& target, uint64_t originalLength)
{
    for (int32_t i = 0; i < source.count(); ++i) {
        const ProcMapEntry entry = source.entries()[i];
        if (entry.present == 0)
            continue;
        uint32_t offset = 0;
        if (entry.blockOffset != 0) {
            int result = CopyBlock(platform, source, target, i, entry, originalLength, &offset);
            if (result != kCbfWalkOk)
                return result;
        }
        ProcMapEntry& slot = target.entries()[i];
        slot = entry;
        slot.present = 1;
        if (entry.blockOffset != 0)
            slot.blockOffset = offset;
    }
    return kCbfWalkOk;
}

// Length of the target before anything is written to it.
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
int LoadBothMaps(LoadedCbf* target, const char* targetPath, LoadedCbf* source, const char* sourcePath)
{
    int result = target->Load(targetPath, 0, 1);
    if (result != kCbfWalkOk)
        return result;
    return source->Load(sourcePath, 0, 0);
}

int MergeFiles(CbfPlatform& platform, const char* sourcePath, const char* targetPath)
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
    uint64_t originalLength = 0;
    result = FileLength(target.stream(), &originalLength);
    if (result != kCbfWalkOk)
        return result;
    result = MergeEntries(platform, source, target, originalLength);
    if (result != kCbfWalkOk)
        return result;
    source.Release();
    if (!WriteProcMap(target.entries(), target.handle()))
        return kCbfWalkMapWriteFailed;
    return kCbfWalkOk;
}

// ---- Prune ----------------------------------------------------------------

int PruneFiles(CbfPlatform& platform, const char* sourcePath, const char* targetPath)
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

int TruncateFile(CbfPlatform& platform, const char* targetPath)
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

using TargetWork = int (*)(CbfPlatform&, const char*, const char*);

// Capture, work, restore. `work` has closed every stream on the target by
// the time it returns, so the restore's exclusive open can succeed.
int WithTimesKept(CbfPlatform& platform, const char* sourcePath, const char* targetPath, TargetWork work)
{
    if (targetPath == nullptr)
        return kCbfWalkCannotOpen;
    CbfFileTimes times{};
    int result = TimesResult(platform.CaptureTimes(targetPath, &times));
    if (result != kCbfWalkOk)
        return result;
    result = work(platform, sourcePath, targetPath);
    if (result != kCbfWalkOk)
        return result;
    return TimesResult(platform.RestoreTimes(targetPath, times));
}

int TruncateWork(CbfPlatform& platform, const char*, const char* targetPath)
{
    return TruncateFile(platform, targetPath);
}

} // namespace

int MergeCbfWalk(CbfPlatform& platform, const char* sourcePath, const char* targetPath)
{
    return WithTimesKept(platform, sourcePath, targetPath, MergeFiles);
}

int PruneCbfWalk(CbfPlatform& platform, const char* sourcePath, const char* targetPath)
{
    return WithTimesKept(platform, sourcePath, targetPath, PruneFiles);
}

int TruncateCbfWalk(CbfPlatform& platform, const char* targetPath)
{
    return WithTimesKept(platform, nullptr, targetPath, TruncateWork);
}

} // namespace setupsup
