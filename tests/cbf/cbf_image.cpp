#include "tests/cbf/cbf_image.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace setupsup_test {

CbfImage::CbfImage(int32_t count) : count_(count), map_(count > 0 ? count : 0) { memcpy(version_, "07.00.00", 9); }

CbfImage& CbfImage::Version(const char (&nineBytes)[10])
{
    memcpy(version_, nineBytes, 9);
    return *this;
}

Bytes BlockPattern(uint64_t bytes, unsigned char seed)
{
    Bytes out(bytes);
    for (uint64_t k = 0; k < bytes; ++k)
        out[k] = static_cast<unsigned char>(seed + k * 7 + k / 251);
    return out;
}

CbfImage& CbfImage::Block(int32_t index, uint32_t length, unsigned char seed)
{
    ProcMapEntry& entry = map_.at(index);
    entry.present = 1;
    entry.blockOffset = static_cast<uint32_t>(21 + map_.size() * 24 + data_.size());
    entry.blockLength = length;
    Bytes block = BlockPattern(uint64_t{length} + 4, seed);
    data_.insert(data_.end(), block.begin(), block.end());
    return *this;
}

static void PutWord(Bytes* out, uint32_t word)
{
    for (int shift = 0; shift < 32; shift += 8)
        out->push_back(static_cast<unsigned char>(word >> shift));
}

Bytes CbfImage::Build() const
{
    Bytes out(version_, version_ + 9);
    PutWord(&out, magic_);
    PutWord(&out, revision_);
    PutWord(&out, static_cast<uint32_t>(count_));
    for (const ProcMapEntry& e : map_) {
        for (uint32_t word : {e.info0, e.info1, e.present, e.info3, e.blockOffset, e.blockLength}) {
            PutWord(&out, word);
        }
    }
    out.insert(out.end(), data_.begin(), data_.end());
    return out;
}

void WriteBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

Bytes ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

static uint32_t WordAt(const Bytes& file, size_t at)
{
    return file.at(at) | file.at(at + 1) << 8 | file.at(at + 2) << 16 | static_cast<uint32_t>(file.at(at + 3)) << 24;
}

std::vector<ProcMapEntry> MapOf(const Bytes& file, int32_t count)
{
    std::vector<ProcMapEntry> map(count);
    for (int32_t i = 0; i < count; ++i) {
        const size_t at = 21 + static_cast<size_t>(i) * 24;
        map[i] = {WordAt(file, at),      WordAt(file, at + 4),  WordAt(file, at + 8),
                  WordAt(file, at + 12), WordAt(file, at + 16), WordAt(file, at + 20)};
    }
    return map;
}

Bytes Slice(const Bytes& file, uint64_t start, uint64_t length)
{
    if (start + length > file.size())
        return {};
    return Bytes(file.begin() + static_cast<ptrdiff_t>(start), file.begin() + static_cast<ptrdiff_t>(start + length));
}

} // namespace setupsup_test
