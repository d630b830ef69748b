#pragma once

#include <ox/imagebuf.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace oxtest {

// Pixel access by coordinates, computed from the documented memory layout only (never through the
// library), so that tests state expectations independently of the code under test.
// `c` is the physical channel (the position in memory), not the logical colour.

inline std::size_t componentSize(ox::ExImageDataType t)
{
    const std::size_t sizes[] = {0, 1, 1, 2, 2, 4, 4, 4, 8, 16, 8, 8};
    return t > 0 && t < 12 ? sizes[t] : 0;
}

inline std::uint8_t* pixelAddress(const ox::SxImageBuf& b, int x, int y, int c)
{
    const std::size_t s = componentSize(b.dataType), row = std::size_t(y) * b.rowBytes;
    if (b.packing == ox::ePlanar)
        return b.data + std::size_t(c) * b.rowBytes * b.height + row + x * s;
    return b.data + row + (std::size_t(x) * b.channels + c) * s;
}

template <typename T>
T getPixel(const ox::SxImageBuf& b, int x, int y, int c = 0)
{
    T v;
    std::memcpy(&v, pixelAddress(b, x, y, c), sizeof(T));
    return v;
}

template <typename T>
void setPixel(ox::SxImageBuf& b, int x, int y, int c, T v)
{
    std::memcpy(pixelAddress(b, x, y, c), &v, sizeof(T));
}

// Succeeds when ok(x, y, c) is true for every component of b; otherwise names the first that is not.
template <typename F>
::testing::AssertionResult everyComponent(const ox::SxImageBuf& b, F ok)
{
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
            for (int c = 0; c < b.channels; ++c)
                if (!ok(x, y, c))
                    return ::testing::AssertionFailure() << "at " << x << "," << y << " channel " << c;
    return ::testing::AssertionSuccess();
}

// Fills every component with f(x, y, c) converted to T.
template <typename T, typename F>
void fill(ox::SxImageBuf& b, F f)
{
    everyComponent(b, [&](int x, int y, int c) { return setPixel<T>(b, x, y, c, T(f(x, y, c))), true; });
}

// A value that differs for nearly every component: good for spotting a misplaced copy.
inline std::uint64_t pattern(int x, int y, int c)
{
    return std::uint64_t(x) * 7 + std::uint64_t(y) * 131 + c * 17 + 3;
}

// Where logical channel `logical` (red 0, green 1, blue 2, alpha 3) lives in memory: 8-bit
// interleaved images of two to four channels with colorOrder 0 or 1 keep red and blue swapped.
inline int physicalChannel(const ox::SxImageBuf& b, int logical)
{
    const bool blueFirst = componentSize(b.dataType) == 1 && b.packing == ox::ePixel && b.channels > 1 &&
                           b.channels < 5 && b.colorOrder < 2;
    return blueFirst && logical < 3 ? 2 - logical : logical;
}

template <typename T>
T getLogical(const ox::SxImageBuf& b, int x, int y, int c)
{
    return getPixel<T>(b, x, y, physicalChannel(b, c));
}

// Byte k of component (x, y, c) as fillRaw writes it: nearly every component differs.
inline std::uint8_t byteOf(int x, int y, int c, std::size_t k)
{
    return std::uint8_t((pattern(x, y, c) * 0x9e3779b1u) >> 11 ^ k * 0x3b);
}

// Gives every byte of every component a value from its coordinates, whatever the data type.
inline void fillRaw(ox::SxImageBuf& b)
{
    everyComponent(b, [&](int x, int y, int c) {
        for (std::size_t k = 0; k < componentSize(b.dataType); ++k)
            pixelAddress(b, x, y, c)[k] = byteOf(x, y, c, k);
        return true;
    });
}

// True when component (x, y, c) of b holds the bytes fillRaw wrote at (sx, sy, sc), each xor `flip`.
inline bool holds(const ox::SxImageBuf& b, int x, int y, int c, int sx, int sy, int sc, std::uint8_t flip = 0)
{
    for (std::size_t k = 0; k < componentSize(b.dataType); ++k)
        if (pixelAddress(b, x, y, c)[k] != (byteOf(sx, sy, sc, k) ^ flip))
            return false;
    return true;
}

// True when every byte of component (x, y, c) is v.
inline bool bytesAre(const ox::SxImageBuf& b, int x, int y, int c, std::uint8_t v)
{
    for (std::size_t k = 0; k < componentSize(b.dataType); ++k)
        if (pixelAddress(b, x, y, c)[k] != v)
            return false;
    return true;
}

// Succeeds when every component (x, y, c) of b holds what fillRaw wrote at from(x, y, c), an
// {x, y, c} array, or, where that has x < 0, still holds Image's 0xcd.
template <typename F>
::testing::AssertionResult holdsFrom(const ox::SxImageBuf& b, F from)
{
    return everyComponent(b, [&](int x, int y, int c) {
        const std::array<int, 3> s = from(x, y, c);
        return s[0] < 0 ? bytesAre(b, x, y, c, 0xcd) : holds(b, x, y, c, s[0], s[1], s[2]);
    });
}

// Cell position (dx, dy) in a 2 x 2 mosaic layout of red 'R', blue 'B', and the greens of the top
// 't' and bottom 'b' row.
inline std::pair<int, int> cellPosition(ox::ExBayerGrid g, char colour)
{
    const std::string cell = std::string("BGGRRGGBGBRGGRBG").substr(4 * g, 4);
    const std::size_t at = cell.find(colour == 't' || colour == 'b' ? 'G' : colour, colour == 'b' ? 2 : 0);
    return {int(at % 2), int(at / 2)};
}

// ---- Buffers and checks shared by the pixel-operation suites ----------------------------------

// Every data type.
inline const std::initializer_list<ox::ExImageDataType> kAllTypes = {
    ox::eInt8,  ox::eUInt8,  ox::eInt16,   ox::eUInt16, ox::eInt32, ox::eUInt32,
    ox::eFloat, ox::eDouble, ox::eComplex, ox::eInt64,  ox::eUInt64};

// Calls f(type, T{}) for each listed type with its C++ component type, in the order of the
// enumeration (eComplex, which has none, is skipped).
template <typename F>
void forEachType(std::initializer_list<ox::ExImageDataType> types, F f)
{
    const auto call = [&](ox::ExImageDataType t, auto zero) {
        if (std::find(types.begin(), types.end(), t) != types.end())
            f(t, zero);
    };
    call(ox::eInt8, std::int8_t()), call(ox::eUInt8, std::uint8_t()), call(ox::eInt16, std::int16_t()),
        call(ox::eUInt16, std::uint16_t()), call(ox::eInt32, std::int32_t()),
        call(ox::eUInt32, std::uint32_t());
    call(ox::eFloat, float()), call(ox::eDouble, double()), call(ox::eInt64, std::int64_t()),
        call(ox::eUInt64, std::uint64_t());
}

// Fills every component with f(x, y, c) converted to the buffer's own type (not eComplex).
template <typename F>
void fillAny(ox::SxImageBuf& b, F f)
{
    forEachType({b.dataType}, [&](ox::ExImageDataType, auto zero) { fill<decltype(zero)>(b, f); });
}

// An allocated buffer whose every byte (row padding included) starts as 0xcd, released at the end of
// the scope. Rows are padded by `pad` bytes.
struct Image : ox::SxImageBuf
{
    Image(int w, int h, int c, ox::ExImageDataType t, ox::ExPixelPacking p = ox::ePixel,
          ox::ExBayerGrid g = ox::eNoBayer, int pad = 40)
    {
        const int row = w * (p == ox::ePlanar ? 1 : c) * int(componentSize(t));
        EXPECT_EQ(ox::AllocBuffer(*this, w, h, c, t, row + pad, 0, p, false, ox::eUncompressed), ox::eOk);
        bayerGrid = g;
        if (data)
            std::memset(data, 0xcd, dataSize);
    }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    ~Image() { ox::FreeBuffer(*this); }
};

// Gives every byte of the buffers' memory (row padding included) a value that differs from buffer to
// buffer, and tells later whether any byte changed: for argument checks, which must write nothing.
class Snapshot
{
public:
    explicit Snapshot(std::initializer_list<ox::SxImageBuf*> bufs)
    {
        for (ox::SxImageBuf* b : bufs) {
            for (std::size_t i = 0; i < b->dataSize; ++i)
                b->data[i] = std::uint8_t(i * 131 + m_saved.size() * 29 + 7);
            m_saved.emplace_back(b, std::vector<std::uint8_t>(b->data, b->data + b->dataSize));
        }
    }
    ::testing::AssertionResult unchanged() const
    {
        for (const auto& [b, bytes] : m_saved)
            if (!std::equal(bytes.begin(), bytes.end(), b->data))
                return ::testing::AssertionFailure()
                       << "a " << b->width << "x" << b->height << " buffer was written";
        return ::testing::AssertionSuccess();
    }

private:
    std::vector<std::pair<const ox::SxImageBuf*, std::vector<std::uint8_t>>> m_saved;
};

// Succeeds when every byte after the pixels of every row (of every plane) is still v.
inline ::testing::AssertionResult paddingIs(const ox::SxImageBuf& b, std::uint8_t v)
{
    const bool planar = b.packing == ox::ePlanar;
    const std::size_t used = std::size_t(b.width) * (planar ? 1 : b.channels) * componentSize(b.dataType);
    for (int row = 0; row < b.height * (planar ? b.channels : 1); ++row)
        for (std::size_t i = used; i < std::size_t(b.rowBytes); ++i)
            if (b.data[std::size_t(row) * b.rowBytes + i] != v)
                return ::testing::AssertionFailure() << "padding of row " << row << " written";
    return ::testing::AssertionSuccess();
}

// Argument checks: the codes the calls gave (evaluated in order), each of which must be `code`.
inline void expectCodes(unsigned code, std::initializer_list<unsigned> results)
{
    int call = 0;
    for (unsigned result : results)
        EXPECT_EQ(result, code) << "call " << call++;
}

// A copy of b's descriptor (sharing its memory) with fields altered by `change`, that can be passed
// where a writable buffer is expected: for argument checks.
struct Changed
{
    template <typename F>
    Changed(const ox::SxImageBuf& b, F change) : buf(b)
    {
        change(buf);
    }
    operator ox::SxImageBuf&() { return buf; }
    ox::SxImageBuf buf;
};

} // namespace oxtest
