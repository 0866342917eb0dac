// Merge, prune and truncate of an installed CBF file, in place.
//
// Each walk keeps the target's time stamps: it captures them before it
// touches the file and restores them after every stream on it is closed.
// What the walks need from the operating system (exclusive opens and file
// times, zero-filled memory, cutting a file) comes through CbfPlatform, so
// the same walk code runs in the DLL and natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "frame/file_times_result.h"

namespace setupsup {

// The three times of a file in FILETIME units (100 ns since 1601-01-01 UTC).
struct CbfFileTimes {
    uint64_t creation;
    uint64_t lastAccess;
    uint64_t lastWrite;
};

class CbfPlatform {
public:
    // Opens `path` exclusively for reading and reads its three times.
    virtual FileTimesResult CaptureTimes(const char* path, CbfFileTimes* times) = 0;
    // Opens `path` exclusively for reading and writing and sets all three
    // times exactly.
    virtual FileTimesResult RestoreTimes(const char* path, const CbfFileTimes& times) = 0;
#ifdef _WIN32
    // The same for a UTF-16 name.
    virtual FileTimesResult CaptureTimes(const wchar_t* path, CbfFileTimes* times) = 0;
    virtual FileTimesResult RestoreTimes(const wchar_t* path, const CbfFileTimes& times) = 0;
#endif
    // A zero-filled block, or null.
    virtual void* AllocZeroed(size_t bytes) = 0;
    virtual void Free(void* block) = 0;
    // Flushes the stream and cuts its file to `length` bytes.
    virtual bool SetStreamLength(FILE* stream, uint64_t length) = 0;

protected:
    // Not virtual: no platform is deleted through this interface, and a
    // trivial destructor lets a platform live in static storage with nothing
    // registered to run at exit.
    ~CbfPlatform() = default;
};

// Results of the walks; the DLL exports return them unchanged.
enum CbfWalkResult : int {
    kCbfWalkOk = 0,
    kCbfWalkCannotOpen = -1,    // target not openable exclusively (capture/restore)
    kCbfWalkNoMemory = 1,       // a map or the copy buffer
    kCbfWalkBadFile = 3,        // times unreadable/unsettable, OpenCbf failed,
                                // or a merge source with more entries than the target
    kCbfWalkSeekFailed = 4,     // merge: a stream to a block's place or to its end
    kCbfWalkTellFailed = 5,     // merge: a file's length unknown, or an appended block past 4 GiB
    kCbfWalkReadFailed = 6,     // merge: a source block not wholly in the source, or a short chunk
    kCbfWalkWriteFailed = 7,    // merge: a chunk was not written whole
    kCbfWalkMapWriteFailed = 8, // merge, prune: WriteProcMap failed
    kCbfWalkTruncMapFailed = 9, // truncate: WriteProcMap failed
    kCbfWalkCutFailed = 10,     // truncate: the file could not be cut
};

// Size of the buffer a block is copied through.
inline constexpr size_t kCbfCopyBufferSize = 8192;

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
