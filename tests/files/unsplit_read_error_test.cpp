// UnsplitFile when a read of the piece fails part-way. Wine cannot make a
// read of a plain file fail after it opened: it does not enforce byte-range
// locks on reads (ReadFile inside a region that another handle locked with
// LockFile succeeds), and a shortened piece reads as its end, not as an
// error. So this program compiles the library's join in and replaces its
// piece reader; the files, opens and time stamps are real.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/unsplit.h"
#include "setupsup.h"
#include "tests/common/test_support.h"

using namespace setupsup_test;

namespace {

constexpr int kReadFailed = -7;

// The reader fails once failAfter bytes were delivered: the read that
// crosses that point yields the bytes up to it and reports the error, as a
// read does whose device fails part-way through a buffer.
size_t g_failAfter;
size_t g_delivered;

setupsup::PieceRead FailingRead(HANDLE piece, uint64_t offset, void* buffer, size_t size)
{
    size_t room = g_failAfter - g_delivered;
    if (size <= room) {
        setupsup::PieceRead read = setupsup::ReadFromFile(piece, offset, buffer, size);
        g_delivered += read.bytes;
        return read;
    }
    setupsup::PieceRead read = setupsup::ReadFromFile(piece, offset, buffer, room);
    g_delivered += read.bytes;
    return {read.bytes, true};
}

class UnsplitReadError : public testing::Test {
protected:
    void SetUp() override { setupsup::g_readPiece = FailingRead; }
    void TearDown() override { setupsup::g_readPiece = setupsup::ReadFromFile; }
};

} // namespace

TEST_F(UnsplitReadError, KeepsWhatWasAppendedAndReportsTheFailure)
{
    // Failing at once, within a read, and on the piece's last byte; and with
    // a piece larger than the copy buffer, within the second read.
    for (size_t failAfter : {size_t{0}, size_t{4096 + 100}, size_t{9999}, size_t{300000}}) {
        ScratchDir dir;
        const std::vector<uint8_t> first = Pattern(300, 1), pieceBytes = Pattern(failAfter < 10000 ? 10000 : 400000, 2);
        const std::string target = MakeFile(dir, "whole.bin", first, 5);
        const std::string piece = MakeFile(dir, "piece.bin", pieceBytes);
        FileTimes before;
        ASSERT_TRUE(GetTimes(target, &before));

        g_failAfter = failAfter;
        g_delivered = 0;
        EXPECT_EQ(UnsplitFile(target.c_str(), piece.c_str()), kReadFailed)
            << "a read failing after " << failAfter << " bytes is no success";

        FileTimes after;
        ASSERT_TRUE(GetTimes(target, &after));
        if (failAfter > 0) {
            EXPECT_NE(Ticks(after.lastWrite), Ticks(before.lastWrite))
                << "the times of a partly joined file are not restored";
        }
        std::vector<uint8_t> expected = first;
        expected.insert(expected.end(), pieceBytes.begin(), pieceBytes.begin() + failAfter);
        EXPECT_EQ(ReadFileBytes(target), expected) << "the bytes read before the failure stay appended";
        EXPECT_EQ(ReadFileBytes(piece), pieceBytes) << "the piece is only read";
    }
}

TEST_F(UnsplitReadError, TheRealReaderJoinsTheSameFiles)
{
    // The same join with the library's own reader succeeds: the failure
    // above comes from the reader alone.
    setupsup::g_readPiece = setupsup::ReadFromFile;
    ScratchDir dir;
    const std::string target = MakeFile(dir, "whole.bin", Pattern(300, 1));
    const std::string piece = MakeFile(dir, "piece.bin", Pattern(10000, 2));
    EXPECT_EQ(UnsplitFile(target.c_str(), piece.c_str()), 0);
    EXPECT_EQ(ReadFileBytes(target).size(), 10300u);
}
