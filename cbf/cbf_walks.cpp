// Merge, prune and truncate walks over CBF files.
//
// Every walk has the same frame: open the target once, exclusively, with its
// times; do the work with every file and block owned by a guard; put the
// times back through the same open and close it. A failure inside the work
// returns at once; the guards release what was opened. A refusal that wrote
// nothing gets the times back too (the walk's reads may have moved the
// last-access time); after a failed write they stay as the failure left them.
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

// An open CBF file with its map loaded. The file belongs to the caller.
class LoadedCbf {
public:
    explicit LoadedCbf(CbfPlatform& platform) : platform_(platform), map_(platform) {}
    LoadedCbf(const LoadedCbf&) = delete;
    LoadedCbf& operator=(const LoadedCbf&) = delete;

    // Checks the header of `file`, allocates a zero-filled map of exactly the
    // size it gives and reads the map into it: 0; 3 for a bad header or a map
    // cut short; 1 when the map cannot be allocated (a bad file is refused
    // before any allocation).
    int Load(CbfFile file)
    {
        file_ = file;
        unsigned char header[kCbfMapOffset];
        size_t got = 0;
        if (platform_.ReadAt(file, 0, header, sizeof header, &got) != CbfIoResult::kOk)
            return kCbfWalkBadFile;
        if (ParseCbfHeader(header, got, &count_, CbfTrace) != kCbfOpenOk)
            return kCbfWalkBadFile;
        const size_t bytes = static_cast<size_t>(CbfMapBytes(count_)); // at most 65396: checked
        if (!map_.Allocate(bytes))
            return kCbfWalkNoMemory;
        if (platform_.ReadAt(file, kCbfMapOffset, map_.get(), bytes, &got) != CbfIoResult::kOk || got != bytes)
            return kCbfWalkBadFile;
        return kCbfWalkOk;
    }

    ProcMapEntry* entries() const { return static_cast<ProcMapEntry*>(map_.get()); }
    int32_t count() const { return count_; }
    CbfFile file() const { return file_; }
    size_t mapBytes() const { return static_cast<size_t>(CbfMapBytes(count_)); }

private:
    CbfPlatform& platform_;
    PlatformBlock map_;
    CbfFile file_;
    int32_t count_ = 0;
};

// The installed file, open for the whole walk, and whether the walk has
// begun to write to it: every write goes through WriteTarget, which says so
// before it writes.
struct WalkTarget {
    CbfFile file;
    bool written = false;
};

// The walk's result for a failed write: 4 when the place cannot be reached,
// else `failed`.
int WriteTarget(CbfPlatform& platform, WalkTarget& target, uint64_t offset, const void* bytes, size_t size, int failed)
{
    target.written = true;
    switch (platform.WriteAt(target.file, offset, bytes, size)) {
        case CbfIoResult::kOk:
            return kCbfWalkOk;
        case CbfIoResult::kSeekFailed:
            return kCbfWalkSeekFailed;
        case CbfIoResult::kFailed:
            break;
    }
    return failed;
}

// Writes the map back over the file's map at byte 21 (`failed` when it is
// not written whole).
int WriteMap(CbfPlatform& platform, WalkTarget& target, const LoadedCbf& map, int failed)
{
    const int result = WriteTarget(platform, target, kCbfMapOffset, map.entries(), map.mapBytes(), failed);
    return result == kCbfWalkOk ? kCbfWalkOk : failed;
}

// A source opened for the walk, closed when the guard ends unless it is the
// target's own open.
class SourceFile {
public:
    SourceFile(CbfPlatform& platform, CbfFile target) : platform_(platform), target_(target) {}
    ~SourceFile()
    {
        if (open_ && !(file_ == target_))
            platform_.Close(file_);
    }
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    // Opens the source named `path` (null: the default name); false for a
    // name that cannot be opened or is too long to be one.
    template <typename Char>
    bool Open(const Char* path)
    {
        const Char* name = CbfFileName(path);
        open_ = name != nullptr && platform_.OpenSource(name, target_, &file_);
        return open_;
    }
    CbfFile file() const { return file_; }

private:
    CbfPlatform& platform_;
    CbfFile target_;
    CbfFile file_;
    bool open_ = false;
};

// The walk's result for how the target's open with its times ended.
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

// Blocks that follow one another in the source and land one after another
// in the target: one stretch of bytes, moved in as few transfers as the copy
// buffer allows (a file of small blocks spent most of its merge in the calls
// made per block).
struct Stretch {
    uint64_t from = 0; // where it starts in the source
    uint64_t to = 0;   // where it goes in the target
    uint64_t bytes = 0;
    bool Continues(uint64_t blockFrom, uint64_t blockTo) const
    {
        return bytes > 0 && from + bytes == blockFrom && to + bytes == blockTo;
    }
};

// The result of a failed read of the source.
int ReadResult(CbfIoResult result)
{
    return result == CbfIoResult::kSeekFailed ? kCbfWalkSeekFailed : kCbfWalkReadFailed;
}

// The copying of a merge: one buffer, allocated once for both runs of
// WriteBlocks. A stretch larger than half the buffer moves through the
// whole buffer, one read and one write at a time. Smaller ones, which a file
// whose blocks do not line up breaks into one per block, are gathered: the
// first half of the buffer holds a window of the source read ahead, so the
// blocks that follow are read from memory, and the second half the bytes
// bound for consecutive places of the target, written in one transfer when
// the next block goes elsewhere or the half is full.
class RunCopier {
public:
    RunCopier(CbfPlatform& platform, CbfFile source, WalkTarget& target)
        : platform_(platform), source_(source), target_(target), buffer_(platform)
    {}

    // Allocates the buffer for `total` bytes of blocks: 0, or 1 when it
    // cannot be had. No bytes, no buffer; fewer than the largest buffer holds
    // get a buffer each of whose halves holds them all.
    int Reserve(uint64_t total)
    {
        if (total == 0)
            return kCbfWalkOk;
        size_ = static_cast<size_t>(std::min<uint64_t>(2 * total, kCbfCopyBufferSize));
        half_ = size_ / 2;
        return buffer_.Allocate(size_) ? kCbfWalkOk : kCbfWalkNoMemory;
    }

    int Copy(const Stretch& stretch)
    {
        SETUPSUP_ASSERT(buffer_.get() != nullptr && stretch.bytes > 0);
        return stretch.bytes <= half_ ? Gather(stretch) : Stream(stretch);
    }

    // Writes what is gathered for the target.
    int Flush()
    {
        if (pendingBytes_ == 0)
            return kCbfWalkOk;
        const size_t bytes = pendingBytes_;
        pendingBytes_ = 0;
        return WriteTarget(platform_, target_, pendingAt_, data() + half_, bytes, kCbfWalkWriteFailed);
    }

private:
    unsigned char* data() const { return static_cast<unsigned char*>(buffer_.get()); }

    // A small stretch: from the window (read anew where it does not hold the
    // stretch) into the gathered bytes.
    int Gather(const Stretch& stretch)
    {
        if (!(windowBytes_ > 0 && stretch.from >= windowAt_ &&
              stretch.from + stretch.bytes <= windowAt_ + windowBytes_)) {
            windowBytes_ = 0;
            size_t got = 0;
            const CbfIoResult read = platform_.ReadAt(source_, stretch.from, data(), half_, &got);
            if (read != CbfIoResult::kOk)
                return ReadResult(read);
            if (got < stretch.bytes)
                return kCbfWalkReadFailed;
            windowAt_ = stretch.from;
            windowBytes_ = got;
        }
        if (pendingBytes_ > 0 && (pendingAt_ + pendingBytes_ != stretch.to || pendingBytes_ + stretch.bytes > half_)) {
            const int result = Flush();
            if (result != kCbfWalkOk)
                return result;
        }
        if (pendingBytes_ == 0)
            pendingAt_ = stretch.to;
        const size_t bytes = static_cast<size_t>(stretch.bytes);
        std::copy_n(data() + (stretch.from - windowAt_), bytes, data() + half_ + pendingBytes_);
        pendingBytes_ += bytes;
        return kCbfWalkOk;
    }

    // A large stretch: through the whole buffer, after what is gathered.
    int Stream(const Stretch& stretch)
    {
        int result = Flush();
        windowBytes_ = 0; // the buffer is overwritten
        for (uint64_t done = 0; result == kCbfWalkOk && done < stretch.bytes;) {
            const size_t chunk = static_cast<size_t>(std::min<uint64_t>(stretch.bytes - done, size_));
            size_t got = 0;
            const CbfIoResult read = platform_.ReadAt(source_, stretch.from + done, data(), chunk, &got);
            if (read != CbfIoResult::kOk)
                return ReadResult(read);
            if (got != chunk)
                return kCbfWalkReadFailed;
            result = WriteTarget(platform_, target_, stretch.to + done, data(), chunk, kCbfWalkWriteFailed);
            done += chunk;
        }
        return result;
    }

    CbfPlatform& platform_;
    CbfFile source_;
    WalkTarget& target_;
    PlatformBlock buffer_;
    size_t size_ = 0, half_ = 0;
    uint64_t windowAt_ = 0; // the source's bytes held in the first half
    size_t windowBytes_ = 0;
    uint64_t pendingAt_ = 0; // the target's bytes gathered in the second half
    size_t pendingBytes_ = 0;
};

// Copies the planned blocks of one run, in index order: those placed past
// the target's original end (`appended`), or those placed over their old
// blocks. Neighbouring blocks are copied as one stretch; what is gathered is
// written at the end of the run, so each failed write is reported as 7.
int WriteBlocks(RunCopier& copier, const LoadedCbf& source, const LoadedCbf& target, uint64_t originalLength,
                bool appended)
{
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
    return copier.Flush();
}

// The bytes the plan copies: every present source block.
uint64_t PlannedBytes(const LoadedCbf& source)
{
    uint64_t total = 0;
    for (int32_t i = 0; i < source.count(); ++i) {
        const ProcMapEntry& entry = source.entries()[i];
        if (entry.present != 0 && entry.blockOffset != 0)
            total += uint64_t{entry.blockLength} + 4;
    }
    return total;
}

// Loads the two maps in the order merge and prune need: the target's, then
// the source's, opened for reading.
template <typename Char>
int LoadBothMaps(LoadedCbf* target, const WalkTarget& walkTarget, SourceFile* sourceFile, const Char* sourcePath,
                 LoadedCbf* source)
{
    int result = target->Load(walkTarget.file);
    if (result != kCbfWalkOk)
        return result;
    if (!sourceFile->Open(sourcePath))
        return kCbfWalkBadFile;
    return source->Load(sourceFile->file());
}

// Plans, then writes the appended blocks, the blocks in place and the map.
// A failure before the blocks in place leaves the target's bytes and map as
// they were (appended bytes stay past the old end as dead space); only a
// write that fails among the blocks in place can leave a replaced block
// under the old map.
template <typename Char>
int MergeFiles(CbfPlatform& platform, const Char* sourcePath, WalkTarget& walkTarget)
{
    LoadedCbf target(platform);
    SourceFile sourceFile(platform, walkTarget.file);
    LoadedCbf source(platform);
    int result = LoadBothMaps(&target, walkTarget, &sourceFile, sourcePath, &source);
    if (result != kCbfWalkOk)
        return result;
    // The target's map has room for its own entries only; dropping the
    // update's extra procs would lose them without a word, so refuse.
    if (source.count() > target.count())
        return kCbfWalkBadFile;
    uint64_t originalLength = 0, sourceLength = 0;
    if (!platform.Length(target.file(), &originalLength) || !platform.Length(source.file(), &sourceLength))
        return kCbfWalkTellFailed;
    OverlapIndex overlaps;
    overlaps.Build(target.entries(), target.count());
    result = PlanMerge(source, target, overlaps, originalLength, sourceLength);
    if (result != kCbfWalkOk)
        return result;
    RunCopier copier(platform, source.file(), walkTarget);
    result = copier.Reserve(PlannedBytes(source));
    if (result == kCbfWalkOk)
        result = WriteBlocks(copier, source, target, originalLength, true);
    if (result == kCbfWalkOk)
        result = WriteBlocks(copier, source, target, originalLength, false);
    if (result != kCbfWalkOk)
        return result;
    return WriteMap(platform, walkTarget, target, kCbfWalkMapWriteFailed);
}

// ---- Prune ----------------------------------------------------------------

template <typename Char>
int PruneFiles(CbfPlatform& platform, const Char* sourcePath, WalkTarget& walkTarget)
{
    LoadedCbf target(platform);
    SourceFile sourceFile(platform, walkTarget.file);
    LoadedCbf source(platform);
    const int result = LoadBothMaps(&target, walkTarget, &sourceFile, sourcePath, &source);
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
    return WriteMap(platform, walkTarget, target, kCbfWalkMapWriteFailed);
}

// ---- Truncate -------------------------------------------------------------

template <typename Char>
int TruncateFile(CbfPlatform& platform, const Char*, WalkTarget& walkTarget)
{
    LoadedCbf target(platform);
    int result = target.Load(walkTarget.file);
    if (result != kCbfWalkOk)
        return result;
    for (int32_t i = 0; i < target.count(); ++i)
        target.entries()[i].present = 0;
    result = WriteMap(platform, walkTarget, target, kCbfWalkTruncMapFailed);
    if (result != kCbfWalkOk)
        return result;
    if (!platform.SetLength(walkTarget.file, CbfDataStart(target.count())))
        return kCbfWalkCutFailed;
    return kCbfWalkOk;
}

// ---- Frame ----------------------------------------------------------------

template <typename Char>
using TargetWork = int (*)(CbfPlatform&, const Char*, WalkTarget&);

// Open with the times, work, times back, close. A target whose name does
// not fit the format's working buffer is refused as a file OpenCbf cannot
// open, after the open that tells whether it exists (as the access routines
// refused it after the capture).
template <typename Char>
int WithTimesKept(CbfPlatform& platform, const Char* sourcePath, const Char* targetPath, TargetWork<Char> work)
{
    SETUPSUP_ASSERT(targetPath != nullptr);
    WalkTarget target;
    CbfFileTimes times{};
    int result = TimesResult(platform.OpenTarget(targetPath, &target.file, &times));
    if (result != kCbfWalkOk)
        return result;
    result = CbfFileName(targetPath) ? work(platform, sourcePath, target) : kCbfWalkBadFile;
    if ((result == kCbfWalkOk || !target.written) && !platform.SetTimes(target.file, times) && result == kCbfWalkOk)
        result = kCbfWalkBadFile;
    platform.Close(target.file);
    return result;
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
    return WithTimesKept<Char>(platform, nullptr, targetPath, TruncateFile<Char>);
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
