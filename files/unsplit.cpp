// Joining split files and copying time stamps between files.
//
// Both exports read a file's three times through an exclusive open and write
// them role for role through another exclusive open. UnsplitFile appends the
// piece through buffered streams, which share the file with other openers, so
// the exclusive opens are held only around the time stamps.
#include <windows.h>

#include <io.h>
#include <cstdio>

#include "files/unsplit.h"
#include "frame/unique_handles.h"
#include "setupsup.h"

using setupsup::unique_file;
using setupsup::unique_hfile;

namespace setupsup {

PieceRead ReadFromStream(std::FILE* piece, void* buffer, size_t size)
{
    size_t got = std::fread(buffer, 1, size, piece);
    return {got, std::ferror(piece) != 0};
}

PieceReader g_readPiece = ReadFromStream;

} // namespace setupsup

namespace {

// Result codes of UnsplitFile and MatchFileDate.
constexpr int kOk = 0;
constexpr int kCannotOpen = -1;        // UnsplitFile: any open or time failure; MatchFileDate: the source
constexpr int kTargetNotWritable = -2; // MatchFileDate: the target cannot be opened read-write
constexpr int kTimesUnreadable = -3;   // MatchFileDate
constexpr int kTimesNotSet = -4;       // MatchFileDate
constexpr int kShortWrite = -5;        // UnsplitFile: the append was cut short by a failed write
constexpr int kSeekFailed = -6;        // UnsplitFile: nothing was appended
constexpr int kReadFailed = -7;        // UnsplitFile: the append was cut short by a failed read

constexpr size_t kCopyBufferSize = 4096;
// The buffer of each stream under the copy loop: a piece is read and the
// target written in system calls of this size, not one per 4096-byte chunk.
constexpr size_t kStreamBufferSize = 256 * 1024;

struct FileTimes {
    FILETIME creation, lastAccess, lastWrite;
};

// Opens path with no sharing, so that nobody else has the file open while its
// time stamps are read or written.
HANDLE OpenExclusive(const char* path, DWORD access)
{
    return ::CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool ReadTimes(HANDLE file, FileTimes* times)
{
    return ::GetFileTime(file, &times->creation, &times->lastAccess, &times->lastWrite) != FALSE;
}

bool WriteTimes(HANDLE file, const FileTimes& times)
{
    return ::SetFileTime(file, &times.creation, &times.lastAccess, &times.lastWrite) != FALSE;
}

// The three times of path, read through an exclusive read-only open.
bool CaptureTimes(const char* path, FileTimes* times)
{
    unique_hfile file(OpenExclusive(path, GENERIC_READ));
    return file && ReadTimes(file.get(), times);
}

// Gives path the three times, through an exclusive read-write open.
bool RestoreTimes(const char* path, const FileTimes& times)
{
    unique_hfile file(OpenExclusive(path, GENERIC_READ | GENERIC_WRITE));
    return file && WriteTimes(file.get(), times);
}

// The length of the stream's file now, or -1. The copy is bounded by it, so
// that a piece that is also the target (or that another writer extends) is
// copied as it was when it was opened, never the bytes being appended.
long long StreamLength(FILE* stream) { return _filelengthi64(_fileno(stream)); }

// Appends the first length bytes of piece to target through one fixed buffer.
int CopyPiece(FILE* piece, long long length, FILE* target)
{
    static_assert(kCopyBufferSize <= 65536, "the copy buffer lives on the stack");
    unsigned char buffer[kCopyBufferSize];
    while (length > 0) {
        size_t want = length < static_cast<long long>(kCopyBufferSize) ? static_cast<size_t>(length) : kCopyBufferSize;
        setupsup::PieceRead read = setupsup::g_readPiece(piece, buffer, want);
        size_t got = read.bytes;
        if (got > 0 && std::fwrite(buffer, 1, got, target) < got)
            return kShortWrite;
        // Bytes delivered before a failure are appended; the failure itself
        // must not pass for the end of the piece.
        if (read.failed)
            return kReadFailed;
        if (got == 0)
            break; // the piece became shorter than it was: its end
        length -= static_cast<long long>(got);
    }
    return kOk;
}

// Appends piecePath to targetPath through streams; kOk when the whole piece
// reached the target and both streams closed cleanly.
int AppendPiece(const char* targetPath, const char* piecePath)
{
    unique_file target(std::fopen(targetPath, "a+b"));
    if (!target)
        return kCannotOpen;
    // Opened for update although only read: a piece that may not be written
    // is refused, as the installer expects of pieces it deletes afterwards.
    unique_file piece(std::fopen(piecePath, "r+b"));
    if (!piece)
        return kCannotOpen;
    // Before the first read or write, as the C library requires. A buffer the
    // runtime cannot allocate leaves the stream's default one: slower, as good.
    std::setvbuf(target.get(), nullptr, _IOFBF, kStreamBufferSize);
    std::setvbuf(piece.get(), nullptr, _IOFBF, kStreamBufferSize);
    long long length = StreamLength(piece.get());
    if (length < 0)
        return kCannotOpen;
    if (std::fseek(target.get(), 0, SEEK_END) != 0)
        return kSeekFailed;
    int rc = CopyPiece(piece.get(), length, target.get());
    if (rc != kOk)
        return rc;
    // The last buffered bytes are written out before the close and checked
    // on their own: some C runtimes let fclose report success although the
    // write it made for them failed.
    if (std::fflush(target.get()) != 0)
        return kShortWrite;
    if (std::fclose(target.release()) != 0)
        return kShortWrite;
    return kOk;
}

} // namespace

extern "C" int WINAPI UnsplitFile(const char* targetPath, const char* piecePath)
{
    if (!targetPath || !piecePath)
        return kCannotOpen;
    FileTimes times;
    if (!CaptureTimes(targetPath, &times))
        return kCannotOpen;
    int rc = AppendPiece(targetPath, piecePath);
    if (rc != kOk)
        return rc;
    return RestoreTimes(targetPath, times) ? kOk : kCannotOpen;
}

extern "C" int WINAPI MatchFileDate(const char* sourcePath, const char* targetPath)
{
    if (!sourcePath)
        return kCannotOpen;
    unique_hfile source(OpenExclusive(sourcePath, GENERIC_READ));
    if (!source)
        return kCannotOpen;
    if (!targetPath)
        return kTargetNotWritable;
    unique_hfile target(OpenExclusive(targetPath, GENERIC_READ | GENERIC_WRITE));
    if (!target)
        return kTargetNotWritable;
    FileTimes times;
    if (!ReadTimes(source.get(), &times))
        return kTimesUnreadable;
    if (!WriteTimes(target.get(), times))
        return kTimesNotSet;
    return kOk;
}
