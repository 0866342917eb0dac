// UnsplitFile: joins a split file piece by piece. Each call appends one piece
// to the file being rebuilt and gives that file back the three times it had
// before the call. The file being rebuilt is held through one exclusive open
// for the whole call: its times are read, the piece appended and the times
// set again through it, so no other opener gets in meanwhile. The piece is
// opened as a stream would open it, sharing it with other openers.
#include <windows.h>

#include "files/unsplit.h"
#include "frame/file_io.h"
#include "frame/file_times.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
#include "setupsup.h"

namespace setupsup {

PieceRead ReadFromFile(HANDLE piece, uint64_t offset, void* buffer, size_t size)
{
    size_t got = 0;
    const FileTransfer result = ReadAt(piece, offset, buffer, size, &got);
    return {got, result != FileTransfer::kOk};
}

#ifdef SETUPSUP_TEST_SEAMS
PieceReader g_readPiece = ReadFromFile;
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

// The most the copy buffer holds: a piece moves in reads and writes of this
// size (a quarter of the calls a 64 KiB copy makes). A smaller piece gets a
// buffer of its own size; where even that cannot be had, the copy goes
// through a small buffer on the stack: slower, as good.
constexpr size_t kCopyBufferSize = 256 * 1024;
constexpr size_t kFallbackBufferSize = 4096;

// Appends the first length bytes of piece to target, whose end is at `end`.
int CopyPiece(HANDLE piece, uint64_t length, HANDLE target, uint64_t end)
{
    unsigned char fallback[kFallbackBufferSize];
    const size_t wanted = length < kCopyBufferSize ? static_cast<size_t>(length) : kCopyBufferSize;
    unique_hlocal block(wanted > kFallbackBufferSize ? ::LocalAlloc(LMEM_FIXED, wanted) : nullptr);
    unsigned char* buffer = block ? static_cast<unsigned char*>(block.get()) : fallback;
    const size_t size = block ? wanted : kFallbackBufferSize;
    for (uint64_t done = 0; done < length;) {
        const size_t want = length - done < size ? static_cast<size_t>(length - done) : size;
        const PieceRead read = g_readPiece(piece, done, buffer, want);
        if (read.bytes > 0) {
            const FileTransfer written = WriteAt(target, end + done, buffer, read.bytes);
            if (written != FileTransfer::kOk)
                return written == FileTransfer::kSeekFailed && done == 0 ? kSeekFailed : kShortWrite;
        }
        // Bytes delivered before a failure are appended; the failure itself
        // must not pass for the end of the piece.
        if (read.failed)
            return kReadFailed;
        if (read.bytes == 0)
            break; // the piece became shorter than it was: its end
        done += read.bytes;
    }
    return kOk;
}

// Appends the piece read through `piece` to `target`. The copy is bounded by
// the piece's length when the call began, so that a piece that is also the
// target (or that another writer extends) is copied as it was, never the
// bytes being appended.
int AppendPiece(HANDLE piece, HANDLE target)
{
    uint64_t length = 0, end = 0;
    if (!FileLength(piece, &length))
        return kCannotOpen;
    if (!FileLength(target, &end))
        return kSeekFailed;
    return CopyPiece(piece, length, target, end);
}

// Appends the piece and gives the target back its three times. The piece is
// opened for update although only read: a piece that may not be written is
// refused, as the installer expects of pieces it deletes afterwards. A piece
// that names the target itself is read through the target's own open.
template <typename Char>
int Unsplit(const Char* targetPath, const Char* piecePath)
{
    unique_hfile target = OpenExclusive(targetPath, GENERIC_READ | GENERIC_WRITE);
    FileTimeSet times;
    if (!target || !ReadFileTimes(target.get(), &times))
        return kCannotOpen;
    unique_hfile piece = OpenShared(piecePath, GENERIC_READ | GENERIC_WRITE);
    if (!piece && (::GetLastError() != ERROR_SHARING_VIOLATION || !NamesHeldFile(target.get(), piecePath)))
        return kCannotOpen;
    const int rc = AppendPiece(piece ? piece.get() : target.get(), target.get());
    if (rc != kOk)
        return rc;
    return WriteFileTimes(target.get(), times) ? kOk : kCannotOpen;
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
