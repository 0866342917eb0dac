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
#include "frame/file_times.h"
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

#ifdef SETUPSUP_TEST_SEAMS
PieceReader g_readPiece = ReadFromStream;
#endif

} // namespace setupsup

namespace {

// Result codes of UnsplitFile and MatchFileDate, as setupsup.h names them.
// UnsplitFile: kCannotOpen for any open or time failure; kShortWrite and
// kReadFailed when the append was cut short; kSeekFailed with nothing
// appended. MatchFileDate: kCannotOpen for the source, then the rest.
constexpr int kOk = SETUPSUP_FILE_OK;
constexpr int kCannotOpen = SETUPSUP_FILE_NOT_OPENED;
constexpr int kTargetNotWritable = SETUPSUP_FILE_TARGET_NOT_OPENED;
constexpr int kTimesUnreadable = SETUPSUP_FILE_TIMES_UNREADABLE;
constexpr int kTimesNotSet = SETUPSUP_FILE_TIMES_NOT_SET;
constexpr int kShortWrite = SETUPSUP_FILE_SHORT_WRITE;
constexpr int kSeekFailed = SETUPSUP_FILE_SEEK_FAILED;
constexpr int kReadFailed = SETUPSUP_FILE_PIECE_UNREADABLE;

constexpr size_t kCopyBufferSize = 4096;
// The buffer of each stream under the copy loop: a piece is read and the
// target written in system calls of this size, not one per 4096-byte chunk.
constexpr size_t kStreamBufferSize = 256 * 1024;

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
    setupsup::FileTimeSet times;
    if (setupsup::CaptureFileTimes(targetPath, &times) != setupsup::FileTimesResult::kOk)
        return kCannotOpen;
    int rc = AppendPiece(targetPath, piecePath);
    if (rc != kOk)
        return rc;
    return setupsup::RestoreFileTimes(targetPath, times) == setupsup::FileTimesResult::kOk ? kOk : kCannotOpen;
}

extern "C" int WINAPI MatchFileDate(const char* sourcePath, const char* targetPath)
{
    if (!sourcePath)
        return kCannotOpen;
    unique_hfile source = setupsup::OpenExclusive(sourcePath, GENERIC_READ);
    if (!source)
        return kCannotOpen;
    if (!targetPath)
        return kTargetNotWritable;
    unique_hfile target = setupsup::OpenExclusive(targetPath, GENERIC_READ | GENERIC_WRITE);
    if (!target)
        return kTargetNotWritable;
    setupsup::FileTimeSet times;
    if (!setupsup::ReadFileTimes(source.get(), &times))
        return kTimesUnreadable;
    if (!setupsup::WriteFileTimes(target.get(), times))
        return kTimesNotSet;
    return kOk;
}
