// Internal routines of the split-file join. The exports are declared in
// setupsup.h; the piece reader is shared with the tests.
#pragma once

#include <cstddef>
#include <cstdio>

namespace setupsup {

// One read from the piece's stream: the bytes delivered, and whether the
// stream reported a read error (bytes delivered before it still count).
struct PieceRead {
    size_t bytes;
    bool failed;
};

// Reads from the piece's stream with fread.
PieceRead ReadFromStream(std::FILE* piece, void* buffer, size_t size);

// The join reads every piece through g_readPiece.
using PieceReader = PieceRead (*)(std::FILE* piece, void* buffer, size_t size);
#ifdef SETUPSUP_TEST_SEAMS
// Test builds only: a test replaces it to make a read fail part-way, which
// Wine cannot produce for a plain file.
extern PieceReader g_readPiece;
#else
// The shipped library: fixed to ReadFromStream, nothing to replace.
inline constexpr PieceReader g_readPiece = ReadFromStream;
#endif

} // namespace setupsup
