#pragma once

#include <ox/errors.h>
#include <ox/export.h>
#include <ox/imagebuf.h>

// Bit depth and data type: measure the significant bit depth of an image, move bits in place,
// reduce 16-bit data to 8 bits, rescale 8/16-bit colours, and change the container type between
// unsigned integer types or from floating point to unsigned integers. The caller allocates the
// destination. Channels are logical (red 0, green 1, blue 2, alpha 3), found in memory as
// ChannelIndexLogicalToPhysical says.
//
// Each function checks its arguments in the order given and returns the code of the first failing
// check (see errors.h); nothing is written on an argument error. Rows (of each plane in turn when
// planar) run in parallel through OpenMP; no locks are taken.

namespace ox {

// Bits needed for `value`: 1 below 2, 8 below 256, else the smallest n (9 ... 32) with value < 2^n.
OX_EXPORT unsigned int ColorBitDepthForIntensity(unsigned int value);

// Sets `depth` to ColorBitDepthForIntensity of the largest component (1 for an all-zero image).
// Codes: no data, not eUInt8/eUInt16 or not pixel packed: eErrInvalidArg1. Else eOk.
OX_EXPORT unsigned int DetectColorBitDepth(const SxImageBuf& buf, int& depth);

// Shifts every component left by `shift` bits (right by −shift when negative; bits leaving the
// component are lost) and adds `shift` to colorBitDepth, limited to 0 ... the component width.
// Codes: no data: eErrInvalidArg1; shift 0: eOk without change; types other than eUInt8, eUInt16,
// eUInt32 or packings other than pixel/planar: eErrUnsupported. Else eOk.
OX_EXPORT unsigned int ShiftBits(SxImageBuf& buf, int shift);

// 16-bit to 8-bit with a white point per logical channel c: m_c = maxValues[c] (or
// 2^src.colorBitDepth − 1 when maxValues is null), limited to 2^src.colorBitDepth − 1; each output =
// trunc(v × (2^dst.colorBitDepth − 1) / m_c) in double precision, limited to 2^dst.colorBitDepth − 1
// (source values above m_c, or m_c = 0 with v > 0, give that limit; dst depths above 8 count as 8).
// Destination channels beyond src's count are not written.
// Codes: src without data or not eUInt16: eErrInvalidArg1; dst without data, not eUInt8, of another
// size, with fewer channels than src, or several channels for a single-channel src:
// eErrInvalidArg2; packings other than pixel/planar, no channels, more than 64 channels, or a
// logical channel without a place in a dst pixel: eErrUnsupported. Else eOk.
OX_EXPORT unsigned int ReduceBits(const SxImageBuf& src, SxImageBuf& dst, unsigned short* maxValues);

// One channel by powers of two: logical channel dstChannel of dst = trunc(v × 2^dst.colorBitDepth /
// 2^src.colorBitDepth) of logical channel srcChannel of src, limited to 255.
// Codes: src without data or not eUInt16: eErrInvalidArg1; srcChannel out of range:
// eErrInvalidArg2; dst without data, of another size or packing, or not eUInt8: eErrInvalidArg3;
// dstChannel out of range: eErrInvalidArg4; packings other than pixel/planar, or a dstChannel
// without a place in a dst pixel: eErrUnsupported. Else eOk.
OX_EXPORT unsigned int ReduceBits(const SxImageBuf& src, int srcChannel, SxImageBuf& dst, int dstChannel);

// Maps the source's full range 0 ... 2^src.colorBitDepth − 1 of each logical channel c onto
// 0 ... maxValues[c]: output = trunc(v × maxValues[c] / (2^src.colorBitDepth − 1)) in integer
// arithmetic, limited to maxValues[c] (a src.colorBitDepth outside 1 ... the component width counts
// as the component width). 8- or 16-bit to 8- or 16-bit, pixel or planar.
// Codes: src without data or components above 2 bytes: eErrInvalidArg1; dst without data,
// components above 2 bytes, or another size, channel count or packing: eErrInvalidArg2; maxValues
// null or one of its first src.channels entries at or above 2^dst.colorBitDepth: eErrInvalidArg3;
// other types or packings, or channel counts as in ReduceBits: eErrUnsupported. Else eOk.
OX_EXPORT unsigned int ScaleColors(const SxImageBuf& src, SxImageBuf& dst, unsigned short* maxValues);

// Changes the container between eUInt8, eUInt16, eUInt32 and eUInt64 by plain integer conversion
// (widening keeps the value, narrowing keeps the low-order bits; colorBitDepth is not used).
// Components keep their place in memory: an RGB image retyped between 16 and 8 bits stays in the
// source's channel order, whatever the destination's colorOrder says (ReduceBits, by contrast,
// places logical channels).
// Codes: src without data: eErrInvalidArg1; dst without data, or another size, channel count or
// packing: eErrInvalidArg2; other types or packings: eErrUnsupported. Else eOk.
OX_EXPORT unsigned int RetypeUToU(const SxImageBuf& src, SxImageBuf& dst);

// eFloat or eDouble to eUInt8 ... eUInt64: values above the destination's largest value give that
// value, values below 0 (and NaN) give 0, others are truncated toward zero.
// Codes: src without data or not eFloat/eDouble: eErrInvalidArg1; dst without data, another size
// or channel count, not an unsigned integer type, or another bayerGrid: eErrInvalidArg2; packings
// other than pixel/planar: eErrUnsupported. Else eOk.
OX_EXPORT unsigned int RetypeFloatToU(const SxImageBuf& src, SxImageBuf& dst);

} // namespace ox
