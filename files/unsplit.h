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

// Reads the piece, fread in the library. A test replaces it to make a read
// fail part-way, which the system under test cannot produce for a plain
// file; it is not reachable through any export.
using PieceReader = PieceRead (*)(std::FILE* piece, void* buffer, size_t size);
extern PieceReader g_readPiece;

PieceRead ReadFromStream(std::FILE* piece, void* buffer, size_t size);

} // namespace setupsup
