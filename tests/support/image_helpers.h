#pragma once

#include <ox/imagebuf.h>

#include <cstdint>
#include <cstring>

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

} // namespace oxtest
