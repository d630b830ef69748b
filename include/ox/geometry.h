#pragma once

#include <ox/errors.h>
#include <ox/export.h>
#include <ox/imagebuf.h>

// Geometry operations: flips, transpose and shrinking by dropping rows and columns. Pixel values
// are never changed. Each function checks its arguments in the order given and returns the code of
// the first failing check (see errors.h); nothing is written on an argument error. Rows (of each
// plane in turn when planar) run in parallel through OpenMP; no locks are taken.

namespace ox {

// Flips `buf` vertically in place (whole rows, padding included; each plane in turn unless pixel
// packed). Codes: no data: eErrInvalidArg1; no memory for the per-thread scratch rows:
// eErrOutOfMemory. Else eOk.
OX_EXPORT unsigned int ReverseRowOrder(SxImageBuf& buf);

// Flips `rows` rows of `rowBytes` bytes at `data` in place, on the calling thread.
// Codes: null data: eErrInvalidArg1; no memory for the scratch row: eErrOutOfMemory. Else eOk.
OX_EXPORT unsigned int ReverseMemRowOrder(unsigned char* data, int rows, int rowBytes);

// Mirrors `buf` horizontally in place: the pixels of each row in reverse order, components of a
// pixel kept together. Handles pixel-packed images of 1, 3 or 4 channels and planar images;
// pixel-packed images of other channel counts are left unchanged (eOk). 64-bit integers are
// handled with 3 or 4 channels only. Codes: no data: eErrInvalidArg1; other types or packings:
// eErrUnsupported. Else eOk.
OX_EXPORT unsigned int ReverseColOrder(SxImageBuf& buf);

// Mirrors `src` over its main diagonal into `dst`: pixel (x, y) becomes pixel (y, x).
// Codes: src without data: eErrInvalidArg1; dst without data, with other channels, colorBitDepth,
// type, packing, colorOrder or bayerGrid, not of the transposed size, or sharing memory with src
// (a square image cannot be transposed in place): eErrInvalidArg2; unknown
// type: eErrUnsupported. Packings other than ePixel and ePlanar: eOk without work. Else eOk.
OX_EXPORT unsigned int Transpose(const SxImageBuf& src, SxImageBuf& dst);

// Shrinks `src` into the smaller `dst` by dropping rows and columns. Per direction, with source size
// S and destination size D: when S >= 2 D every (S div D)-th line is kept; otherwise D div (S mod D)
// lines are kept and one skipped, repeatedly. A single-channel mosaic (bayerGrid a layout) is
// shrunk by whole 2 x 2 cells so that its pattern is kept.
// Codes: src not a valid buffer: eErrInvalidArg1; dst not valid, of other channels, colorBitDepth,
// bayerGrid, type, packing or colorOrder, not strictly smaller in both directions, (mosaic) of
// odd width or height, or sharing memory with src: eErrInvalidArg2; eComplex or packings other than the two:
// eErrUnsupported.
OX_EXPORT unsigned int Resample(const SxImageBuf& src, SxImageBuf& dst);

} // namespace ox
