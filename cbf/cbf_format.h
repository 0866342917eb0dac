// CBF dialog files: layout, constants and the three access routines.
//
// A CBF file is a packed 21-byte header, a proc map of `count` 24-byte
// entries starting at byte 21, and opaque data blocks after the map that are
// reached only through the map's entries:
//
//   offset 0   9 bytes   version "07.00.00" and a NUL
//   offset 9   4 bytes   magic number 103191
//   offset 13  4 bytes   revision number 4
//   offset 17  4 bytes   entry count (signed; valid files hold 250 to 2724)
//   offset 21  count*24  ProcMapEntry records, entry i describes proc i
//   then       ...       data blocks; entry i's block starts at blockOffset
//                        and spans blockLength + 4 bytes
//
// Every integer is 32-bit little-endian. The access routines use only the C
// stream library, so they build and run on any host; the walks reach files
// through their platform (cbf_walks.h) and share the header checks.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <type_traits>

#include "frame/text.h"

namespace setupsup {

// ---- File layout constants ------------------------------------------------

inline constexpr char kCbfVersion[] = "07.00.00";
inline constexpr std::size_t kCbfVersionBytes = 9; // eight characters and a NUL
inline constexpr uint32_t kCbfMagic = 103191;      // bytes 17 93 01 00
inline constexpr uint32_t kCbfRevision = 4;
inline constexpr uint32_t kCbfMapOffset = 21; // packed header, no padding
inline constexpr uint32_t kCbfEntrySize = 24;
inline constexpr int32_t kCbfSmallestCount = 250;
inline constexpr uint32_t kCbfLargestMap = 65396; // so at most 2724 entries
inline constexpr TextLiteral kCbfDefaultName = SETUPSUP_TEXT("ZORBDLG.CBF");
inline constexpr std::size_t kCbfNameBufferSize = 512; // characters, NUL included
// The stream buffers of a file opened with its map read (allocated by the C
// runtime, one per open file, released when the file is closed). A file only
// read refills its whole buffer after every seek, so its buffer stays small
// enough for blocks read out of order. A file opened for update is the one
// written: a seek writes out only the bytes its buffer holds, so a larger
// buffer costs nothing there and writes a long stretch of blocks in a
// quarter of the system calls.
inline constexpr std::size_t kCbfReadBufferSize = 64 * 1024;
inline constexpr std::size_t kCbfUpdateBufferSize = 256 * 1024;

// ---- Records --------------------------------------------------------------

// One proc map entry, identical in memory and in the file. The info words
// belong to the application that reads CBF files; this library carries them
// unchanged and never interprets them.
struct ProcMapEntry {
    uint32_t info0;
    uint32_t info1;
    uint32_t present; // non-zero when the proc is in this file
    uint32_t info3;
    uint32_t blockOffset; // absolute offset of the data block, 0 for none
    uint32_t blockLength; // the block spans blockLength + 4 bytes
};

// Maps are read and written as raw arrays of these records, so the memory
// image must be the file image: six packed words on a little-endian host.
static_assert(sizeof(ProcMapEntry) == kCbfEntrySize);
static_assert(std::is_trivially_copyable_v<ProcMapEntry>);
static_assert(std::is_standard_layout_v<ProcMapEntry>);
static_assert(offsetof(ProcMapEntry, blockLength) == 20);
static_assert(std::endian::native == std::endian::little, "CBF maps are stored little-endian and read as raw records");

// An open CBF file, owned by the caller (usually on its stack).
struct CbfHandle {
    uint32_t marker; // kCbfMagic once OpenCbf has set the handle up
    FILE* stream;    // null when closed
    int32_t count;   // entry count from the header
};

// ---- Results of OpenCbf ---------------------------------------------------

enum CbfOpenResult : int {
    kCbfOpenOk = 0,
    kCbfOpenCannotOpen = 1, // absent, access denied, or name too long
    kCbfOpenBadVersion = 2,
    kCbfOpenBadRevision = 3,
    kCbfOpenBadMagic = 4,
    kCbfOpenShortOrSmall = 5, // ends inside header or map, or count < 250
    kCbfOpenTooBig = 6,       // map > 65396 bytes, or > the caller's capacity
    kCbfOpenNoHandle = 7,     // handle (or mapSize) is null
};

// ---- Trace messages -------------------------------------------------------
// Named once so that tools and tests can recognise them.

inline constexpr char kCbfMsgOpenFailed[] = "Open of CBF File %s failed.\n File not found.\n";
inline constexpr char kCbfMsgOpenFailedWide[] = "Open of CBF File %ls failed.\n File not found.\n";
inline constexpr char kCbfMsgVersion[] = "CBF file version mismatch. Expected '%s', got '%s'\n";
inline constexpr char kCbfMsgMagic[] = "CBF file magic number is bad.\n";
inline constexpr char kCbfMsgRevision[] = "CBF file revision number mismatch.\n";
inline constexpr char kCbfMsgReadError[] = "Error reading CBF file.\n";
inline constexpr char kCbfMsgMapTooSmall[] = "CBF file proc map too small.\n";
inline constexpr char kCbfMsgMapTooBig[] = "CBF file proc map too big.\n";
inline constexpr char kCbfMsgPastEnd[] = "Attempting to add proc past end of proc map.\n";
inline constexpr char kCbfMsgRebuild[] = "--> Rebuild CBF with bigger map size.\n";
inline constexpr char kCbfMsgUpdating[] = "Updating CBF Proc map.\n";
inline constexpr char kCbfMsgSeekMap[] = "Error seeking to proc map position.\n";

#if defined(__GNUC__)
#define CBF_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define CBF_PRINTF_LIKE(fmt, args)
#endif

// The trace hook of the access routines. Level 1 is progress (and the map
// seek failure), level 2 an error of OpenCbf. It discards everything: the
// library reports to its caller only through results.
void CbfTrace(int level, const char* format, ...) CBF_PRINTF_LIKE(2, 3);

// A trace hook with CbfTrace's signature. The routines below always trace
// through CbfTrace; the *Traced variants let the cbf tool print the
// library's own messages and let tests see them.
using CbfTraceHook = void (*)(int level, const char* format, ...);

// ---- Access routines ------------------------------------------------------

// Checks a file's header: `header` holds its first `available` bytes (only
// the first 21 are looked at). Version, magic number, revision, count and
// map size are checked in that order, a field only once it is complete, so
// that a file with several faults, or one that ends inside its header,
// reports the first fault met. kCbfOpenOk with *count set, or the fault's
// CbfOpenResult (2 to 6) after tracing its message. OpenCbf and the walks
// both check headers through it.
int ParseCbfHeader(const unsigned char* header, size_t available, int32_t* count, CbfTraceHook trace);

// Opens `name` (null: "ZORBDLG.CBF" in the current directory) with "r+b" when
// `update` is non-zero, else "rb", and validates the header. A name of 512
// characters or more with its NUL is refused as a file that cannot be
// opened, never cut. On Windows the name may be UTF-16 too.
//   mapBuffer null: size query. Stores count*24 in *mapSize and closes.
//   mapBuffer set:  *mapSize is its capacity in bytes; reads the whole map
//                   and leaves the stream open just after it.
// Returns a CbfOpenResult. After any failure the handle has no stream.
int OpenCbf(const char* name, int update, ProcMapEntry* mapBuffer, uint32_t* mapSize, CbfHandle* handle);
int OpenCbfTraced(const char* name, int update, ProcMapEntry* mapBuffer, uint32_t* mapSize, CbfHandle* handle,
                  CbfTraceHook trace);
#ifdef _WIN32
int OpenCbf(const wchar_t* name, int update, ProcMapEntry* mapBuffer, uint32_t* mapSize, CbfHandle* handle);
#endif

// Flushes and closes the handle's stream. Returns 1 when a stream was
// closed; 0, changing nothing, for a null, unmarked or closed handle.
int CloseCbf(CbfHandle* handle);

// Writes the handle's `count` entries over the file's map at byte 21 and
// leaves the stream open at the end of the map. Returns 1 on success, 0 for
// an unusable handle, a failed seek or a short write.
int WriteProcMap(const ProcMapEntry* mapBuffer, CbfHandle* handle);
int WriteProcMapTraced(const ProcMapEntry* mapBuffer, CbfHandle* handle, CbfTraceHook trace);

// ---- Helpers --------------------------------------------------------------

// The name OpenCbf opens for `name` ("ZORBDLG.CBF" for null), or null when
// it does not fit the 512-character working buffer with its NUL: such a name
// is refused, never cut, since a shortened name could open a different file.
template <typename Char>
const Char* CbfFileName(const Char* name)
{
    const Char* chosen = name ? name : kCbfDefaultName.Of<Char>();
    std::size_t length = 0;
    while (length < kCbfNameBufferSize && chosen[length] != 0)
        ++length;
    return length < kCbfNameBufferSize ? chosen : nullptr;
}

// Byte size of a map of `count` entries, formed in 64 bits so that no count
// can wrap it; a negative count gives 0.
uint64_t CbfMapBytes(int32_t count);

// First byte after the map: where the data region begins.
uint64_t CbfDataStart(int32_t count);

// 64-bit stream positioning. Block offsets are unsigned 32-bit, so files
// reach 4 GiB, beyond what a long holds on Windows and on 32-bit hosts.
// Both return true on success.
bool CbfSeek(FILE* stream, uint64_t offset);
bool CbfSeekEnd(FILE* stream);
bool CbfTell(FILE* stream, uint64_t* position);

} // namespace setupsup
