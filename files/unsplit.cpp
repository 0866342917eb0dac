// UnsplitFile: joins a split file piece by piece. Each call appends one piece
// to the file being rebuilt and gives that file back the three times it had
// before the call. The times are read and written through exclusive opens;
// the piece is appended through buffered streams, which share the file with
// other openers, so the exclusive opens are held only around the time stamps.
#include <windows.h>

#include <io.h>
#include <cstdio>

#include "files/unsplit.h"
#include "frame/file_times.h"
#include "frame/streams.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
#include "setupsup.h"

namespace setupsup {

PieceRead ReadFromStream(std::FILE* piece, void* buffer, size_t size)
{
    size_t got = std::fread(buffer, 1, size, piece);
    return {got, std::ferror(piece) != 0};
}

#ifdef SETUPSUP_TEST_SEAMS
PieceReader g_readPiece = ReadFromStream;
#endif

namespace {

// Result codes of UnsplitFile, as setupsup.h names them: kCannotOpen for any
// open or time failure; kShortWrite and kReadFailed when the append was cut
// short; kSeekFailed with nothing appended.
constexpr int kOk = SETUPSUP_FILE_OK;
constexpr int kCannotOpen = SETUPSUP_FILE_NOT_OPENED;
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
        PieceRead read = g_readPiece(piece, buffer, want);
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
template <typename Char>
int AppendPiece(const Char* targetPath, const Char* piecePath)
{
    unique_file target(OpenStream(targetPath, "a+b"));
    if (!target)
        return kCannotOpen;
    // Opened for update although only read: a piece that may not be written
    // is refused, as the installer expects of pieces it deletes afterwards.
    unique_file piece(OpenStream(piecePath, "r+b"));
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

// Appends the piece and gives the target back its three times.
template <typename Char>
int Unsplit(const Char* targetPath, const Char* piecePath)
{
    FileTimeSet times;
    if (CaptureFileTimes(targetPath, &times) != FileTimesResult::kOk)
        return kCannotOpen;
    int rc = AppendPiece(targetPath, piecePath);
    if (rc != kOk)
        return rc;
    return RestoreFileTimes(targetPath, times) == FileTimesResult::kOk ? kOk : kCannotOpen;
}

} // namespace
} // namespace setupsup

extern "C" int WINAPI UnsplitFile(const char* targetPath, const char* piecePath)
{
    if (!targetPath || !piecePath)
        return setupsup::kCannotOpen;
    return setupsup::Unsplit(targetPath, piecePath);
}

// On the Windows 95 family a path without an exact ANSI form cannot be opened.
extern "C" int WINAPI UnsplitFileW(const wchar_t* targetPath, const wchar_t* piecePath)
{
    if (!targetPath || !piecePath)
        return setupsup::kCannotOpen;
    return setupsup::WideCall(
        setupsup::Refuse{setupsup::kCannotOpen}, [](auto... paths) { return setupsup::Unsplit(paths...); }, targetPath,
        piecePath);
}
