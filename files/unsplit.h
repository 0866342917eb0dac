// Internal routines of the split-file join. The exports are declared in
// setupsup.h; the piece reader is shared with the tests.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace setupsup {

// One read from the piece: the bytes delivered, and whether the system
// reported a read error (bytes delivered before it still count).
struct PieceRead {
    size_t bytes;
    bool failed;
};

// Reads up to size bytes of the piece at offset with ReadFile.
PieceRead ReadFromFile(HANDLE piece, uint64_t offset, void* buffer, size_t size);

// The join reads every piece through g_readPiece.
using PieceReader = PieceRead (*)(HANDLE piece, uint64_t offset, void* buffer, size_t size);
#ifdef SETUPSUP_TEST_SEAMS
// Test builds only: a test replaces it to make a read fail part-way, which
// Wine cannot produce for a plain file.
extern PieceReader g_readPiece;
#else
// The shipped library: fixed to ReadFromFile, nothing to replace.
inline constexpr PieceReader g_readPiece = ReadFromFile;
#endif

} // namespace setupsup
