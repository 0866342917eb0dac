// CBF access routines: open and validate, read the map, write it back, close.
#include "cbf/cbf_format.h"

#include "frame/streams.h"

#include <cstdarg>
#include <cstring>

#if !defined(_WIN32)
#include <sys/types.h>
#endif

namespace setupsup {

void CbfTrace(int level, const char* format, ...)
{
    // Deliberately silent: an installer's process has no console or log of
    // ours, and nothing but the result code may reach the caller.
    (void)level;
    (void)format;
}

uint64_t CbfMapBytes(int32_t count)
{
    if (count <= 0)
        return 0;
    return static_cast<uint64_t>(count) * kCbfEntrySize;
}

uint64_t CbfDataStart(int32_t count) { return kCbfMapOffset + CbfMapBytes(count); }

bool CbfSeek(FILE* stream, uint64_t offset)
{
#if defined(_WIN32)
    if (offset > static_cast<uint64_t>(INT64_MAX))
        return false;
    return _fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64");
    if (offset > static_cast<uint64_t>(INT64_MAX))
        return false;
    return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool CbfSeekEnd(FILE* stream)
{
#if defined(_WIN32)
    return _fseeki64(stream, 0, SEEK_END) == 0;
#else
    return fseeko(stream, 0, SEEK_END) == 0;
#endif
}

bool CbfTell(FILE* stream, uint64_t* position)
{
#if defined(_WIN32)
    __int64 at = _ftelli64(stream);
#else
    off_t at = ftello(stream);
#endif
    if (at < 0)
        return false;
    *position = static_cast<uint64_t>(at);
    return true;
}

namespace {
uint32_t WordAt(const unsigned char* bytes);
} // namespace

int ParseCbfHeader(const unsigned char* header, size_t available, int32_t* count, CbfTraceHook trace)
{
    // Each field is checked as soon as it is complete, so that a file that
    // ends inside the header reports a fault met before its end first.
    constexpr size_t kMagicAt = kCbfVersionBytes, kRevisionAt = kMagicAt + 4, kCountAt = kRevisionAt + 4;
    if (available < kCbfVersionBytes) {
        trace(2, kCbfMsgReadError);
        return kCbfOpenShortOrSmall;
    }
    char version[kCbfVersionBytes + 1] = {};
    memcpy(version, header, kCbfVersionBytes);
    if (strcmp(version, kCbfVersion) != 0) {
        trace(2, kCbfMsgVersion, kCbfVersion, version);
        return kCbfOpenBadVersion;
    }
    const struct {
        size_t at;
        uint32_t expected;
        int result;
        const char* message;
    } words[] = {{kMagicAt, kCbfMagic, kCbfOpenBadMagic, kCbfMsgMagic},
                 {kRevisionAt, kCbfRevision, kCbfOpenBadRevision, kCbfMsgRevision}};
    for (const auto& word : words) {
        if (available < word.at + 4) {
            trace(2, kCbfMsgReadError);
            return kCbfOpenShortOrSmall;
        }
        if (WordAt(header + word.at) != word.expected) {
            trace(2, "%s", word.message);
            return word.result;
        }
    }
    if (available < kCountAt + 4) {
        trace(2, kCbfMsgReadError);
        return kCbfOpenShortOrSmall;
    }
    *count = static_cast<int32_t>(WordAt(header + kCountAt));
    if (*count < kCbfSmallestCount) { // signed: negative counts too
        trace(2, kCbfMsgMapTooSmall);
        return kCbfOpenShortOrSmall;
    }
    if (CbfMapBytes(*count) > kCbfLargestMap) {
        trace(2, kCbfMsgMapTooBig);
        return kCbfOpenTooBig;
    }
    return kCbfOpenOk;
}

namespace {

// One little-endian 32-bit word of the header.
uint32_t WordAt(const unsigned char* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Every failure after the stream is open closes it first, so that the
// handle never keeps a stream on a file it refused.
int FailClosed(CbfHandle* handle, int result)
{
    CloseCbf(handle);
    return result;
}

// Copies the file name into the fixed working buffer, or refuses it
// (CbfFileName).
template <typename Char>
bool CopyName(const Char* name, Char (&buffer)[kCbfNameBufferSize])
{
    const Char* source = CbfFileName(name);
    if (source == nullptr)
        return false;
    memcpy(buffer, source, (TextLength(source) + 1) * sizeof(Char));
    return true;
}

void TraceOpenFailed(CbfTraceHook trace, const char* name) { trace(2, kCbfMsgOpenFailed, name); }
#ifdef _WIN32
void TraceOpenFailed(CbfTraceHook trace, const wchar_t* name) { trace(2, kCbfMsgOpenFailedWide, name); }
#endif

// The header as OpenCbf reads it, in one read of its 21 bytes (fewer where
// the file ends inside it); the checks are ParseCbfHeader's.
int ValidateHeader(CbfHandle* handle, uint64_t* mapBytes, CbfTraceHook trace)
{
    unsigned char header[kCbfMapOffset];
    const size_t got = fread(header, 1, sizeof header, handle->stream);
    const int result = ParseCbfHeader(header, got, &handle->count, trace);
    if (result != kCbfOpenOk)
        return FailClosed(handle, result);
    *mapBytes = CbfMapBytes(handle->count);
    return kCbfOpenOk;
}

// The map: capacity check, then every entry in one read (one stream call
// per entry cost a full map thousands of calls).
int ReadMap(CbfHandle* handle, ProcMapEntry* mapBuffer, uint32_t capacity, uint64_t mapBytes, CbfTraceHook trace)
{
    if (mapBytes > capacity) {
        CloseCbf(handle);
        trace(2, kCbfMsgPastEnd);
        trace(2, kCbfMsgRebuild);
        return kCbfOpenTooBig;
    }
    const size_t count = static_cast<size_t>(handle->count); // at least 250: the header was checked
    if (fread(mapBuffer, kCbfEntrySize, count, handle->stream) != count)
        return FailClosed(handle, kCbfOpenShortOrSmall);
    return kCbfOpenOk;
}

// OpenCbf over a name of either character type.
template <typename Char>
int OpenNamedCbf(const Char* name, int update, ProcMapEntry* mapBuffer, uint32_t* mapSize, CbfHandle* handle,
                 CbfTraceHook trace)
{
    if (handle == nullptr)
        return kCbfOpenNoHandle;
    handle->marker = kCbfMagic;
    handle->stream = nullptr;
    handle->count = 0;
    // mapSize is needed in both modes; without it there is nowhere to report
    // the size or to learn the capacity, so treat it like a missing handle.
    if (mapSize == nullptr)
        return kCbfOpenNoHandle;

    Char path[kCbfNameBufferSize];
    if (!CopyName(name, path)) {
        TraceOpenFailed(trace, name);
        return kCbfOpenCannotOpen;
    }
    handle->stream = OpenStream(path, update ? "r+b" : "rb");
    if (handle->stream == nullptr) {
        TraceOpenFailed(trace, path);
        return kCbfOpenCannotOpen;
    }
    // A stream that stays open carries whole blocks: give it a buffer large
    // enough that a block is one system call, not one per small chunk. It
    // must be set before the first read; if the runtime cannot allocate it,
    // the stream keeps its default buffer and works as well, only slower.
    if (mapBuffer != nullptr)
        setvbuf(handle->stream, nullptr, _IOFBF, update ? kCbfUpdateBufferSize : kCbfReadBufferSize);

    uint64_t mapBytes = 0;
    int result = ValidateHeader(handle, &mapBytes, trace);
    if (result != kCbfOpenOk)
        return result;

    if (mapBuffer == nullptr) {
        CloseCbf(handle);
        *mapSize = static_cast<uint32_t>(mapBytes); // at most 65396: no cut
        return kCbfOpenOk;
    }
    return ReadMap(handle, mapBuffer, *mapSize, mapBytes, trace);
}

} // namespace

int OpenCbfTraced(const char* name, int update, ProcMapEntry* mapBuffer, uint32_t* mapSize, CbfHandle* handle,
                  CbfTraceHook trace)
{
    return OpenNamedCbf(name, update, mapBuffer, mapSize, handle, trace);
}

#ifdef _WIN32
int OpenCbf(const wchar_t* name, int update, ProcMapEntry* mapBuffer, uint32_t* mapSize, CbfHandle* handle)
{
    return OpenNamedCbf(name, update, mapBuffer, mapSize, handle, CbfTrace);
}
#endif

int OpenCbf(const char* name, int update, ProcMapEntry* mapBuffer, uint32_t* mapSize, CbfHandle* handle)
{
    return OpenCbfTraced(name, update, mapBuffer, mapSize, handle, CbfTrace);
}

namespace {

bool IsOpenHandle(const CbfHandle* handle)
{
    return handle != nullptr && handle->marker == kCbfMagic && handle->stream != nullptr;
}

} // namespace

int CloseCbf(CbfHandle* handle)
{
    if (!IsOpenHandle(handle))
        return 0;
    // fclose flushes; callers that must know their writes reached the file
    // flush first (WriteProcMap does), because a close always releases the
    // stream whatever its flush did.
    fclose(handle->stream);
    handle->stream = nullptr;
    handle->count = 0;
    return 1;
}

int WriteProcMapTraced(const ProcMapEntry* mapBuffer, CbfHandle* handle, CbfTraceHook trace)
{
    if (!IsOpenHandle(handle) || mapBuffer == nullptr)
        return 0;
    trace(1, kCbfMsgUpdating);
    if (!CbfSeek(handle->stream, kCbfMapOffset)) {
        trace(1, kCbfMsgSeekMap);
        return 0;
    }
    if (handle->count <= 0)
        return 1; // nothing to write; OpenCbf never allows it
    const size_t count = static_cast<size_t>(handle->count);
    if (fwrite(mapBuffer, kCbfEntrySize, count, handle->stream) != count)
        return 0;
    // A buffered write is not yet in the file: flush here so that a full disk
    // is reported as a failed map write instead of vanishing in CloseCbf.
    // Flushing does not move the stream, which stays at the end of the map.
    return fflush(handle->stream) == 0 ? 1 : 0;
}

int WriteProcMap(const ProcMapEntry* mapBuffer, CbfHandle* handle)
{
    return WriteProcMapTraced(mapBuffer, handle, CbfTrace);
}

} // namespace setupsup
