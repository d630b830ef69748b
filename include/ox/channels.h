#pragma once

#include <ox/errors.h>
#include <ox/export.h>
#include <ox/imagebuf.h>

// Channel operations: copy, set, swap and invert single channels. Channels are logical (red 0,
// green 1, blue 2, alpha 3) and mapped to their place in memory as ChannelIndexLogicalToPhysical
// says, except in SwapChannels; a logical channel whose mapped place lies outside the pixel is
// refused like a channel out of range. Each function checks its arguments in the order given and
// returns the code of the first failing check (see errors.h); nothing is written on an argument
// error. Rows (of each plane in turn when planar) run in parallel through OpenMP; no locks are taken.

namespace ox {

// Copies one channel of `src` into channel `dstChannel` of `dst` (same size, type and packing).
// From a pixel-packed mosaic (bayerGrid one of the four layouts) `srcChannel` names a cell position
// in reading order (0 top-left ... 3 bottom-right): `dst` has half the size and receives those
// samples as a single-channel image (dstChannel is then only range-checked).
// Codes: src without data: eErrInvalidArg1; srcChannel not a channel of src (not a cell position
// for a mosaic): eErrInvalidArg2; dst without data or of the wrong size, type or packing:
// eErrInvalidArg3; dstChannel not a channel of dst: eErrInvalidArg4; eMultispectral sources, other
// bayerGrid values and components other than 1, 2, 4 or 8 bytes: eErrUnsupported. Else eOk.
OX_EXPORT unsigned int CopyChannel(const SxImageBuf& src, int srcChannel, SxImageBuf& dst, int dstChannel);

// Copies plane `srcChannel` of the planar `src` into channel `dstChannel` of every pixel of the
// pixel-packed `dst`. Codes: src without data or not planar: eErrInvalidArg1; srcChannel out of
// range: eErrInvalidArg2; dst without data, not pixel packed, or of another type or size:
// eErrInvalidArg3; dstChannel not a channel of dst: eErrInvalidArg4; unknown type: eErrUnsupported.
OX_EXPORT unsigned int CopyChannelPlanarToPixel(const SxImageBuf& src, int srcChannel, SxImageBuf& dst,
                                                int dstChannel);

// Sets `channel` of every pixel to the low-order bytes of `value` that fit one component (stored as
// they are, also for floating-point types). Codes: no data: eErrInvalidArg1; channel not a channel
// of buf: eErrInvalidArg2; eComplex, unknown types or other packings: eErrUnsupported. Else eOk.
OX_EXPORT unsigned int SetChannel(SxImageBuf& buf, int channel, unsigned long long value);

// As above, only where the byte of `mask` (one 8-bit channel of buf's width and height) at the same
// position is not 0; any other mask: eErrInvalidArg3.
OX_EXPORT unsigned int SetChannel(SxImageBuf& buf, int channel, const SxImageBuf& mask,
                                  unsigned long long value);

// Exchanges the components at physical positions channelA and channelB of every pixel (no logical
// mapping). Codes: no data or not pixel packed: eErrInvalidArg1; channelA out of range:
// eErrInvalidArg2; channelB out of range: eErrInvalidArg3; eComplex or unknown type:
// eErrUnsupported. Else eOk.
OX_EXPORT unsigned int SwapChannels(SxImageBuf& buf, int channelA, int channelB);

// Replaces every component by its bitwise complement over the full component width (65535 - v for
// 16-bit words whatever colorBitDepth says). Unsigned integer types, pixel or planar packing.
// Codes: no data: eErrInvalidArg1; other types or packings: eErrUnsupported. Else eOk.
OX_EXPORT unsigned int Invert(SxImageBuf& buf);

// Inverts one logical channel as Invert does. Codes: no data: eErrInvalidArg1; channel not a
// channel of buf: eErrInvalidArg2; other types or packings: eErrUnsupported. Else eOk.
OX_EXPORT unsigned int InvertChannel(SxImageBuf& buf, int channel);

} // namespace ox
