// cbf: inspect, check, create and maintain CBF dialog files.
//
//   cbf info FILE                 header, procs, blocks and dead space
//   cbf check FILE                structural faults, exit 1 on any
//   cbf merge SRC DST             the same walks the DLL exports run
//   cbf prune SRC DST
//   cbf truncate DST
//   cbf create FILE --count N [--block INDEX:LENGTH[:FILL]]...
//              [--absent INDEX]... [--info INDEX:I0,I1,I3]...
//
// Exit status: 0 success, 1 failure or faults found, 2 bad usage.
#include "cbf/cbf_format.h"
#include "cbf/cbf_platform.h"
#include "cbf/cbf_walks.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

using namespace setupsup;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// ---- Messages for result codes -------------------------------------------

struct CodeText {
    int code;
    const char* text;
};

// What each walk result means, for every command that runs a walk.
constexpr CodeText kWalkMessages[] = {
    {kCbfWalkOk, "done"},
    {kCbfWalkCannotOpen, "the target cannot be opened exclusively (missing, or in use)"},
    {kCbfWalkNoMemory, "a proc map or the copy buffer cannot be allocated"},
    {kCbfWalkBadFile,
     "a CBF file cannot be opened or has a bad header, the source has more procs "
     "than the target, or the target's times cannot be read or set"},
    {kCbfWalkSeekFailed, "a seek failed: the target to a block's place, or the source to its block"},
    {kCbfWalkTellFailed, "the target's position cannot be told (or lies past 4 GiB)"},
    {kCbfWalkReadFailed, "a source block cannot be read whole"},
    {kCbfWalkWriteFailed, "a block cannot be written whole to the target"},
    {kCbfWalkMapWriteFailed, "the target's proc map cannot be written"},
    {kCbfWalkTruncMapFailed, "the target's proc map cannot be written"},
    {kCbfWalkCutFailed, "the target cannot be cut after its proc map"},
};

const char* WalkMessage(int code)
{
    for (const CodeText& entry : kWalkMessages) {
        if (entry.code == code)
            return entry.text;
    }
    return "unknown result";
}

// ---- Reading a file with the library's own messages -----------------------

bool g_traced = false; // whether OpenCbf explained its last failure

void PrintTrace(int level, const char* format, ...) CBF_PRINTF_LIKE(2, 3);
void PrintTrace(int level, const char* format, ...)
{
    if (level < 2)
        return; // progress is not news to a user
    g_traced = true;
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
}

struct LoadedFile {
    std::vector<ProcMapEntry> map;
    int32_t count = 0;
    uint64_t length = 0;
};

// Size query, read and file length, as the walks see the file. Prints
// OpenCbf's own message (or a plain one where it has none) on failure.
bool LoadFile(const char* path, LoadedFile* file)
{
    CbfHandle handle{};
    uint32_t mapSize = 0;
    g_traced = false;
    int result = OpenCbfTraced(path, 0, nullptr, &mapSize, &handle, PrintTrace);
    if (result == kCbfOpenOk) {
        file->map.assign(mapSize / kCbfEntrySize, ProcMapEntry{});
        result = OpenCbfTraced(path, 0, file->map.data(), &mapSize, &handle, PrintTrace);
    }
    if (result != kCbfOpenOk) {
        // Only a map cut short goes untraced by OpenCbf.
        if (!g_traced)
            printf("%s: the file ends inside the proc map.\n", path);
        return false;
    }
    file->count = handle.count;
    bool measured = CbfSeekEnd(handle.stream) && CbfTell(handle.stream, &file->length);
    CloseCbf(&handle);
    if (!measured)
        printf("%s: the file's length cannot be found.\n", path);
    return measured;
}

// ---- Regions --------------------------------------------------------------

struct Block {
    int32_t index;
    uint64_t start;
    uint64_t end; // one past the last byte
};

Block BlockOf(int32_t index, const ProcMapEntry& entry)
{
    return {index, entry.blockOffset, uint64_t{entry.blockOffset} + entry.blockLength + 4};
}

// Blocks of the entries that pass `wanted`, ordered by start.
template <typename Wanted>
std::vector<Block> SortedBlocks(const LoadedFile& file, Wanted wanted)
{
    std::vector<Block> blocks;
    for (int32_t i = 0; i < file.count; ++i) {
        const ProcMapEntry& entry = file.map[i];
        if (entry.blockOffset != 0 && wanted(entry))
            blocks.push_back(BlockOf(i, entry));
    }
    std::sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) { return a.start < b.start; });
    return blocks;
}

// Bytes of [from, to) covered by none of `blocks` (sorted by start).
uint64_t UncoveredBytes(const std::vector<Block>& blocks, uint64_t from, uint64_t to)
{
    uint64_t covered = 0;
    uint64_t reach = from; // everything before reach is counted already
    for (const Block& block : blocks) {
        const uint64_t start = std::max(block.start, reach);
        const uint64_t end = std::min(block.end, to);
        if (start < end) {
            covered += end - start;
            reach = end;
        }
    }
    return to > from ? to - from - covered : 0;
}

// ---- Commands -------------------------------------------------------------

int InfoCommand(char** args)
{
    const char* path = args[0];
    LoadedFile file;
    if (!LoadFile(path, &file))
        return kExitFailed;
    int32_t present = 0, blocks = 0, presentBlocks = 0;
    for (const ProcMapEntry& entry : file.map) {
        present += entry.present != 0;
        blocks += entry.blockOffset != 0;
        presentBlocks += entry.present != 0 && entry.blockOffset != 0;
    }
    const uint64_t dataStart = CbfDataStart(file.count);
    const auto all = SortedBlocks(file, [](const ProcMapEntry&) { return true; });
    printf("file       %s\n", path);
    printf("version    %s\nmagic      %" PRIu32 "\nrevision   %" PRIu32 "\n", kCbfVersion, kCbfMagic, kCbfRevision);
    printf("entries    %" PRId32 " (map of %" PRIu64 " bytes)\n", file.count, CbfMapBytes(file.count));
    printf("present    %" PRId32 "\n", present);
    printf("blocks     %" PRId32 " (%" PRId32 " of present procs)\n", blocks, presentBlocks);
    printf("length     %" PRIu64 " bytes, data from byte %" PRIu64 "\n", file.length, dataStart);
    printf("dead space %" PRIu64 " bytes\n", UncoveredBytes(all, dataStart, file.length));
    return kExitOk;
}

// Present blocks that start inside the header or map, or end past the file.
int CheckBounds(const char* path, const std::vector<Block>& blocks, uint64_t dataStart, uint64_t length)
{
    int faults = 0;
    for (const Block& block : blocks) {
        if (block.start < dataStart) {
            printf("%s: proc %" PRId32 ": block at %" PRIu64
                   " starts inside the header or proc map (data begins at %" PRIu64 ").\n",
                   path, block.index, block.start, dataStart);
            ++faults;
        } else if (block.end > length) {
            printf("%s: proc %" PRId32 ": block %" PRIu64 "..%" PRIu64 " ends past the end of the file (%" PRIu64
                   " bytes).\n",
                   path, block.index, block.start, block.end, length);
            ++faults;
        }
    }
    return faults;
}

// Present blocks sharing bytes; each block is reported once, against the
// earlier block that reaches furthest into it.
int CheckOverlaps(const char* path, const std::vector<Block>& blocks)
{
    int faults = 0;
    const Block* furthest = nullptr;
    for (const Block& block : blocks) {
        if (furthest != nullptr && block.start < furthest->end) {
            printf("%s: proc %" PRId32 ": block %" PRIu64 "..%" PRIu64 " overlaps proc %" PRId32 "'s block %" PRIu64
                   "..%" PRIu64 ".\n",
                   path, block.index, block.start, block.end, furthest->index, furthest->start, furthest->end);
            ++faults;
        }
        if (furthest == nullptr || block.end > furthest->end)
            furthest = &block;
    }
    return faults;
}

// Absent entries may keep stale offsets (a truncate leaves them so), so only
// the blocks of present procs must lie in the file.
int CheckCommand(char** args)
{
    const char* path = args[0];
    LoadedFile file;
    if (!LoadFile(path, &file))
        return kExitFailed;
    const auto blocks = SortedBlocks(file, [](const ProcMapEntry& e) { return e.present != 0; });
    int faults = CheckBounds(path, blocks, CbfDataStart(file.count), file.length);
    faults += CheckOverlaps(path, blocks);
    if (faults != 0) {
        printf("%s: %d fault%s.\n", path, faults, faults == 1 ? "" : "s");
        return kExitFailed;
    }
    printf("%s: OK, %" PRId32 " entries, %zu present blocks.\n", path, file.count, blocks.size());
    return kExitOk;
}

int ReportWalk(const char* what, const char* target, int result)
{
    if (result == kCbfWalkOk) {
        printf("%s %s: done.\n", what, target);
        return kExitOk;
    }
    fprintf(stderr, "cbf %s %s: failed with %d: %s.\n", what, target, result, WalkMessage(result));
    return kExitFailed;
}

int MergeCommand(char** args)
{
    return ReportWalk("merge", args[1], MergeCbfWalk(DefaultCbfPlatform(), args[0], args[1]));
}

int PruneCommand(char** args)
{
    return ReportWalk("prune", args[1], PruneCbfWalk(DefaultCbfPlatform(), args[0], args[1]));
}

int TruncateCommand(char** args)
{
    return ReportWalk("truncate", args[0], TruncateCbfWalk(DefaultCbfPlatform(), args[0]));
}

// ---- create ---------------------------------------------------------------

// Parses a whole unsigned number (decimal, or 0x hex) ending at `end` or
// at one of `stops`; advances *text past it.
bool ParseNumber(const char** text, uint64_t limit, const char* stops, uint64_t* value)
{
    const char* start = *text;
    if (*start < '0' || *start > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long parsed = strtoull(start, &end, 0);
    if (errno != 0 || parsed > limit)
        return false;
    if (*end != '\0' && strchr(stops, *end) == nullptr)
        return false;
    *value = parsed;
    *text = end;
    return true;
}

struct BlockSpec {
    uint32_t index;
    uint32_t length;
    unsigned char fill;
};

struct CreateRequest {
    const char* path = nullptr;
    int32_t count = 0;
    std::vector<BlockSpec> blocks;
    std::vector<uint32_t> absent;
    std::vector<std::pair<uint32_t, ProcMapEntry>> infos;
};

bool ParseBlock(const char* text, BlockSpec* block)
{
    uint64_t index = 0, length = 0, fill = 0;
    if (!ParseNumber(&text, UINT32_MAX, ":", &index) || *text++ != ':')
        return false;
    if (!ParseNumber(&text, UINT32_MAX - 4, ":", &length))
        return false;
    fill = index & 0xFF; // default: the index's low byte, to tell blocks apart
    if (*text == ':') {
        ++text;
        if (!ParseNumber(&text, 0xFF, "", &fill))
            return false;
    }
    *block = {static_cast<uint32_t>(index), static_cast<uint32_t>(length), static_cast<unsigned char>(fill)};
    return true;
}

bool ParseInfo(const char* text, uint32_t* index, ProcMapEntry* words)
{
    uint64_t i = 0, w0 = 0, w1 = 0, w3 = 0;
    if (!ParseNumber(&text, UINT32_MAX, ":", &i) || *text++ != ':')
        return false;
    if (!ParseNumber(&text, UINT32_MAX, ",", &w0) || *text++ != ',')
        return false;
    if (!ParseNumber(&text, UINT32_MAX, ",", &w1) || *text++ != ',')
        return false;
    if (!ParseNumber(&text, UINT32_MAX, "", &w3))
        return false;
    *index = static_cast<uint32_t>(i);
    *words = ProcMapEntry{static_cast<uint32_t>(w0), static_cast<uint32_t>(w1), 0, static_cast<uint32_t>(w3), 0, 0};
    return true;
}

// One option and its value; false for anything not understood.
bool ParseCreateOption(const char* option, const char* value, CreateRequest* request)
{
    uint64_t number = 0;
    if (strcmp(option, "--count") == 0) {
        if (!ParseNumber(&value, INT32_MAX, "", &number))
            return false;
        request->count = static_cast<int32_t>(number);
        return true;
    }
    if (strcmp(option, "--block") == 0) {
        BlockSpec block{};
        if (!ParseBlock(value, &block))
            return false;
        request->blocks.push_back(block);
        return true;
    }
    if (strcmp(option, "--absent") == 0) {
        if (!ParseNumber(&value, UINT32_MAX, "", &number))
            return false;
        request->absent.push_back(static_cast<uint32_t>(number));
        return true;
    }
    if (strcmp(option, "--info") == 0) {
        std::pair<uint32_t, ProcMapEntry> info{};
        if (!ParseInfo(value, &info.first, &info.second))
            return false;
        request->infos.push_back(info);
        return true;
    }
    return false;
}

bool ParseCreate(int argc, char** args, CreateRequest* request)
{
    request->path = args[0];
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 >= argc || !ParseCreateOption(args[i], args[i + 1], request)) {
            fprintf(stderr, "cbf create: cannot use '%s%s%s'.\n", args[i], i + 1 < argc ? " " : "",
                    i + 1 < argc ? args[i + 1] : "");
            return false;
        }
    }
    return true;
}

// Lays the map out: blocks appended in the order given, right after the map.
bool BuildMap(const CreateRequest& request, std::vector<ProcMapEntry>* map)
{
    if (request.count < kCbfSmallestCount || CbfMapBytes(request.count) > kCbfLargestMap) {
        fprintf(stderr, "cbf create: --count must be %" PRId32 " to %" PRIu32 ".\n", kCbfSmallestCount,
                kCbfLargestMap / kCbfEntrySize);
        return false;
    }
    map->assign(request.count, ProcMapEntry{});
    const auto inMap = [&](uint32_t index) {
        if (index < static_cast<uint32_t>(request.count))
            return true;
        fprintf(stderr, "cbf create: index %" PRIu32 " is past the map.\n", index);
        return false;
    };
    uint64_t offset = CbfDataStart(request.count);
    for (const BlockSpec& block : request.blocks) {
        if (!inMap(block.index))
            return false;
        if (offset > UINT32_MAX) {
            fprintf(stderr, "cbf create: blocks reach past 4 GiB.\n");
            return false;
        }
        ProcMapEntry& entry = (*map)[block.index];
        entry.present = 1;
        entry.blockOffset = static_cast<uint32_t>(offset);
        entry.blockLength = block.length;
        offset += uint64_t{block.length} + 4;
    }
    for (uint32_t index : request.absent) {
        if (!inMap(index))
            return false;
        (*map)[index].present = 0;
    }
    for (const auto& [index, words] : request.infos) {
        if (!inMap(index))
            return false;
        (*map)[index].info0 = words.info0;
        (*map)[index].info1 = words.info1;
        (*map)[index].info3 = words.info3;
    }
    return true;
}

bool WriteWord(FILE* out, uint32_t word)
{
    const unsigned char bytes[4] = {static_cast<unsigned char>(word), static_cast<unsigned char>(word >> 8),
                                    static_cast<unsigned char>(word >> 16), static_cast<unsigned char>(word >> 24)};
    return fwrite(bytes, 1, 4, out) == 4;
}

bool WriteFill(FILE* out, uint64_t bytes, unsigned char fill)
{
    unsigned char chunk[8192];
    memset(chunk, fill, sizeof chunk);
    while (bytes > 0) {
        const size_t now = static_cast<size_t>(std::min<uint64_t>(bytes, sizeof chunk));
        if (fwrite(chunk, 1, now, out) != now)
            return false;
        bytes -= now;
    }
    return true;
}

bool WriteCbf(const CreateRequest& request, const std::vector<ProcMapEntry>& map)
{
    FILE* out = fopen(request.path, "wb");
    if (out == nullptr) {
        fprintf(stderr, "cbf create: cannot create %s.\n", request.path);
        return false;
    }
    bool ok = fwrite(kCbfVersion, 1, kCbfVersionBytes, out) == kCbfVersionBytes && WriteWord(out, kCbfMagic) &&
              WriteWord(out, kCbfRevision) && WriteWord(out, static_cast<uint32_t>(request.count)) &&
              fwrite(map.data(), kCbfEntrySize, map.size(), out) == map.size();
    for (const BlockSpec& block : request.blocks) {
        ok = ok && WriteFill(out, uint64_t{block.length} + 4, block.fill);
    }
    ok = fclose(out) == 0 && ok;
    if (!ok)
        fprintf(stderr, "cbf create: cannot write %s.\n", request.path);
    return ok;
}

int CreateCommand(int argc, char** args)
{
    CreateRequest request;
    if (!ParseCreate(argc, args, &request))
        return kExitUsage;
    std::vector<ProcMapEntry> map;
    if (!BuildMap(request, &map))
        return kExitUsage;
    if (!WriteCbf(request, map))
        return kExitFailed;
    printf("created %s: %" PRId32 " entries, %zu blocks.\n", request.path, request.count, request.blocks.size());
    return kExitOk;
}

// ---- Dispatch -------------------------------------------------------------

int Usage()
{
    fprintf(stderr,
            "usage: cbf info FILE\n"
            "       cbf check FILE\n"
            "       cbf merge SOURCE TARGET\n"
            "       cbf prune SOURCE TARGET\n"
            "       cbf truncate TARGET\n"
            "       cbf create FILE --count N [--block INDEX:LENGTH[:FILL]]...\n"
            "                  [--absent INDEX]... [--info INDEX:I0,I1,I3]...\n"
            "A block is LENGTH+4 bytes of FILL (default: INDEX's low byte), appended\n"
            "in the order given; its entry is present unless named by --absent.\n");
    return kExitUsage;
}

struct Command {
    const char* name;
    int arguments; // exact count of operands after the name
    int (*run)(char** args);
};

constexpr Command kCommands[] = {
    {"info", 1, InfoCommand},   {"check", 1, CheckCommand},       {"merge", 2, MergeCommand},
    {"prune", 2, PruneCommand}, {"truncate", 1, TruncateCommand},
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    const char* name = argv[1];
    if (strcmp(name, "create") == 0) {
        return argc >= 3 ? CreateCommand(argc - 2, argv + 2) : Usage();
    }
    for (const Command& command : kCommands) {
        if (strcmp(name, command.name) == 0) {
            return argc - 2 == command.arguments ? command.run(argv + 2) : Usage();
        }
    }
    return Usage();
}
