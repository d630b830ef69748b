#pragma once

#include <ox/imagebuf.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace oxtest {

// Pixel access by coordinates, computed from the documented memory layout only (never through the
// library), so that tests state expectations independently of the code under test.
// `c` is the physical channel (the position in memory), not the logical colour.

inline std::size_t componentSize(ox::ExImageDataType t)
{
    switch (t) {
    case ox::eInt8:
    case ox::eUInt8: return 1;
    case ox::eInt16:
    case ox::eUInt16: return 2;
    case ox::eInt32:
    case ox::eUInt32:
    case ox::eFloat: return 4;
    case ox::eDouble:
    case ox::eInt64:
    case ox::eUInt64: return 8;
    case ox::eComplex: return 16;
    default: return 0;
    }
}

inline std::uint8_t* pixelAddress(const ox::SxImageBuf& b, int x, int y, int c)
{
    const std::size_t s = componentSize(b.dataType);
    if (b.packing == ox::ePlanar)
        return b.data + std::size_t(c) * b.rowBytes * b.height + std::size_t(y) * b.rowBytes +
               std::size_t(x) * s;
    return b.data + std::size_t(y) * b.rowBytes + (std::size_t(x) * b.channels + c) * s;
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

// Fills every component with f(x, y, c) converted to T.
template <typename T, typename F>
void fill(ox::SxImageBuf& b, F f)
{
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
            for (int c = 0; c < b.channels; ++c)
                setPixel<T>(b, x, y, c, static_cast<T>(f(x, y, c)));
}

// A value that differs for nearly every component: good for spotting a misplaced copy.
inline std::uint64_t pattern(int x, int y, int c)
{
    return std::uint64_t(x) * 7 + std::uint64_t(y) * 131 + c * 17 + 3;
}

// Fills every byte of the buffer's memory (padding included) with `value`.
inline void fillBytes(ox::SxImageBuf& b, std::uint8_t value)
{
    std::memset(b.data, value, b.dataSize);
}

// ---- Buffers and checks shared by the pixel-operation suites ----------------------------------

// Every data type, complex included.
inline const ox::ExImageDataType kAllTypes[] = {ox::eInt8,    ox::eUInt8,  ox::eInt16, ox::eUInt16,
                                                ox::eInt32,   ox::eUInt32, ox::eFloat, ox::eDouble,
                                                ox::eComplex, ox::eInt64,  ox::eUInt64};

// An allocated buffer whose every byte (row padding included) starts as 0xcd, released at the end of
// the scope. Rows are padded by `pad` bytes.
struct ScopedImage : ox::SxImageBuf
{
    ScopedImage(int w, int h, int c, ox::ExImageDataType t, ox::ExPixelPacking p = ox::ePixel,
                ox::ExBayerGrid g = ox::eNoBayer, int pad = 40)
    {
        const int row = w * (p == ox::ePlanar ? 1 : c) * int(componentSize(t));
        EXPECT_EQ(ox::AllocBuffer(*this, w, h, c, t, row + pad, 0, p, true, ox::eUncompressed), ox::eOk);
        bayerGrid = g;
        if (data)
            fillBytes(*this, 0xcd);
    }
    ScopedImage(const ScopedImage&) = delete;
    ScopedImage& operator=(const ScopedImage&) = delete;
    ~ScopedImage() { ox::FreeBuffer(*this); }
};

// Byte k of component (x, y, c) as fillRaw writes it: nearly every component differs.
inline std::uint8_t byteOf(int x, int y, int c, int k)
{
    return std::uint8_t((pattern(x, y, c) * 0x9e3779b1u) >> 11 ^ k * 0x3b);
}

// Gives every byte of every component a value from its coordinates, whatever the data type.
inline void fillRaw(ox::SxImageBuf& b)
{
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
            for (int c = 0; c < b.channels; ++c)
                for (std::size_t k = 0; k < componentSize(b.dataType); ++k)
                    pixelAddress(b, x, y, c)[k] = byteOf(x, y, c, int(k));
}

// True when component (x, y, c) of b holds the bytes fillRaw wrote at (sx, sy, sc), each xor `flip`.
inline bool holds(const ox::SxImageBuf& b, int x, int y, int c, int sx, int sy, int sc, std::uint8_t flip = 0)
{
    for (std::size_t k = 0; k < componentSize(b.dataType); ++k)
        if (pixelAddress(b, x, y, c)[k] != (byteOf(sx, sy, sc, int(k)) ^ flip))
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

// A list of buffers to run one check over.
using Buffers = std::initializer_list<ox::SxImageBuf*>;

// A copy of a descriptor (sharing its memory) that can be passed where a writable buffer is expected.
struct Changed
{
    ox::SxImageBuf buf;
    operator ox::SxImageBuf&() { return buf; }
};

// A copy of b's descriptor with one field altered by `change`: for argument checks.
template <typename F>
Changed changed(const ox::SxImageBuf& b, F change)
{
    Changed copy{b};
    change(copy.buf);
    return copy;
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

// Fills every logical channel with f(x, y, c) converted to T.
template <typename T, typename F>
void fillLogical(ox::SxImageBuf& b, F f)
{
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
            for (int c = 0; c < b.channels; ++c)
                setPixel<T>(b, x, y, physicalChannel(b, c), static_cast<T>(f(x, y, c)));
}

// Calls f(type, T{}) for each listed type with its C++ component type (eComplex is skipped).
template <typename F>
void forEachType(std::initializer_list<ox::ExImageDataType> types, F f)
{
    for (ox::ExImageDataType t : types) {
        switch (t) {
        case ox::eInt8: f(t, std::int8_t()); break;
        case ox::eUInt8: f(t, std::uint8_t()); break;
        case ox::eInt16: f(t, std::int16_t()); break;
        case ox::eUInt16: f(t, std::uint16_t()); break;
        case ox::eInt32: f(t, std::int32_t()); break;
        case ox::eUInt32: f(t, std::uint32_t()); break;
        case ox::eFloat: f(t, float()); break;
        case ox::eDouble: f(t, double()); break;
        case ox::eInt64: f(t, std::int64_t()); break;
        case ox::eUInt64: f(t, std::uint64_t()); break;
        default: break;
        }
    }
}

} // namespace oxtest
