// Merge, prune and truncate of an installed CBF file, in place.
//
// Each walk keeps the target's time stamps: it opens the file once,
// exclusively, reads its times, does its work and puts the times back through
// the same open before it closes it. What the walks need from the operating
// system (that open, reads and writes at a place, file times, zero-filled
// memory, cutting a file) comes through CbfPlatform, so the same walk code
// runs in the DLL and natively.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/file_times_result.h"

namespace setupsup {

// The three times of a file in FILETIME units (100 ns since 1601-01-01 UTC).
struct CbfFileTimes {
    uint64_t creation;
    uint64_t lastAccess;
    uint64_t lastWrite;
};

// A file a walk has open: the platform's own handle (a descriptor, a Win32
// handle), which the walks only pass back to the platform.
struct CbfFile {
    intptr_t handle = -1;
    bool operator==(const CbfFile&) const = default;
};

// How a read or a write at a place in a file ended: kSeekFailed when the
// place cannot be reached, kFailed when the system refused the transfer.
enum class CbfIoResult { kOk, kSeekFailed, kFailed };

// What the walks need of the operating system. A walk opens the installed
// file once, for the whole call: its times are read and restored, and its
// map and blocks read and written, through that one open, so no other opener
// gets in while the walk runs.
class CbfPlatform {
public:
    // Opens the installed file for reading and writing, shared with no other
    // opener, and reads its three times. kCannotOpen: it is missing, or open
    // elsewhere (nothing else happens); kFailed: it opens exclusively but not
    // for writing, or its times cannot be read (the file is closed again).
    virtual FileTimesResult OpenTarget(const char* path, CbfFile* file, CbfFileTimes* times) = 0;
    // Opens a source for reading, shared as a stream would share it. A source
    // that is the installed file itself is read through `target`'s own open
    // (*file is then `target`). False when it cannot be opened.
    virtual bool OpenSource(const char* path, CbfFile target, CbfFile* file) = 0;
#ifdef _WIN32
    // The same for UTF-16 names.
    virtual FileTimesResult OpenTarget(const wchar_t* path, CbfFile* file, CbfFileTimes* times) = 0;
    virtual bool OpenSource(const wchar_t* path, CbfFile target, CbfFile* file) = 0;
#endif
    // Sets all three times exactly, through the open installed file.
    virtual bool SetTimes(CbfFile file, const CbfFileTimes& times) = 0;
    virtual void Close(CbfFile file) = 0;
    // Reads up to `bytes` at `offset`; *got tells how many came (fewer only
    // at the end of the file).
    virtual CbfIoResult ReadAt(CbfFile file, uint64_t offset, void* buffer, size_t bytes, size_t* got) = 0;
    // Writes all `bytes` at `offset`; a short write is kFailed.
    virtual CbfIoResult WriteAt(CbfFile file, uint64_t offset, const void* buffer, size_t bytes) = 0;
    virtual bool Length(CbfFile file, uint64_t* length) = 0;
    // Cuts (or extends) the file to `length` bytes.
    virtual bool SetLength(CbfFile file, uint64_t length) = 0;
    // A zero-filled block, or null.
    virtual void* AllocZeroed(size_t bytes) = 0;
    virtual void Free(void* block) = 0;

protected:
    // Not virtual: no platform is deleted through this interface, and a
    // trivial destructor lets a platform live in static storage with nothing
    // registered to run at exit.
    ~CbfPlatform() = default;
};

// Results of the walks; the DLL exports return them unchanged.
enum CbfWalkResult : int {
    kCbfWalkOk = 0,
    kCbfWalkCannotOpen = -1,    // target missing or open elsewhere (nothing done)
    kCbfWalkNoMemory = 1,       // a map or the copy buffer
    kCbfWalkBadFile = 3,        // target not writable, times unreadable or unsettable,
                                // a bad header or map, or a merge source with more
                                // entries than the target
    kCbfWalkSeekFailed = 4,     // merge: a block's place in either file cannot be reached
    kCbfWalkTellFailed = 5,     // merge: a file's length unknown, or an appended block past 4 GiB
    kCbfWalkReadFailed = 6,     // merge: a source block not wholly in the source, or a short read
    kCbfWalkWriteFailed = 7,    // merge: a block was not written whole
    kCbfWalkMapWriteFailed = 8, // merge, prune: the map was not written
    kCbfWalkTruncMapFailed = 9, // truncate: the map was not written
    kCbfWalkCutFailed = 10,     // truncate: the file could not be cut
};

// The most a merge's copy buffer holds: blocks move between the files in
// transfers of up to this size (half of it each way for small blocks, which
// are gathered; see RunCopier). A merge with fewer bytes to copy allocates
// twice what it copies, no more. Larger buffers made small merges slower:
// every page of a fresh allocation is faulted in and zeroed by the system,
// which costs about what copying it does (measured: the README's table).
inline constexpr size_t kCbfCopyBufferSize = 128 * 1024;

// The walks below take the installed file's path non-null (the exports
// refuse a null one before any walk starts). Paths are ANSI (char) or, on
// Windows, UTF-16 (wchar_t); the same walk serves both.
//
// Copies every present proc of `sourcePath` into `targetPath`: entry and,
// when the entry has a block, the block (in place when it fits in the old
// one, else appended). A null sourcePath means "ZORBDLG.CBF". Every placement
// is planned before anything is written; the appended blocks are written
// before those in place, so a failure up to the blocks in place leaves the
// target's bytes and map as they were.
template <typename Char>
int MergeCbfWalk(CbfPlatform& platform, const Char* sourcePath, const Char* targetPath);

// Marks absent, with no block, every target proc for which the source entry
// has a block offset or length. No data moves; the file keeps its length.
template <typename Char>
int PruneCbfWalk(CbfPlatform& platform, const Char* sourcePath, const Char* targetPath);

// Marks every proc of the target absent and cuts the file after its map.
template <typename Char>
int TruncateCbfWalk(CbfPlatform& platform, const Char* targetPath);

extern template int MergeCbfWalk(CbfPlatform&, const char*, const char*);
extern template int PruneCbfWalk(CbfPlatform&, const char*, const char*);
extern template int TruncateCbfWalk(CbfPlatform&, const char*);
#ifdef _WIN32
extern template int MergeCbfWalk(CbfPlatform&, const wchar_t*, const wchar_t*);
extern template int PruneCbfWalk(CbfPlatform&, const wchar_t*, const wchar_t*);
extern template int TruncateCbfWalk(CbfPlatform&, const wchar_t*);
#endif

} // namespace setupsup
