#pragma once

// Result codes of the library's free functions. Success when bit 31 is clear; argument errors are
// numbered by the failing argument and the first failing check decides the code.

namespace ox {

enum ExErrorCode : unsigned int {
    eOk = 0x00000000u,
    eErrFailed = 0xa0000000u,         // general failure, or a called operation failed
    eErrNoCopyFunction = 0xa0000001u, // a copy between memory tags needs the copy hook
    eErrFileNotFound = 0xa0000002u,
    eErrOutOfMemory = 0xa0000008u,
    eErrInvalidData = 0xa000000du, // no valid data, or a numerical procedure found no solution
    eErrFileOpen = 0xa000001eu,
    eErrUnsupported = 0xa000430cu, // data type, packing, channel count or format not handled
    eErrInvalidArg1 = 0xa0004313u,
    eErrInvalidArg2 = 0xa0004314u,
    eErrInvalidArg3 = 0xa0004315u,
    eErrInvalidArg4 = 0xa0004316u,
    eErrInvalidArg5 = 0xa0004317u,
    eErrInvalidArg6 = 0xa0004318u,
    eErrInvalidArg7 = 0xa0004319u,
    eErrInvalidArg8 = 0xa000431au,
};

// True when `code` reports success (bit 31 clear).
constexpr bool Succeeded(unsigned int code)
{
    return (code & 0x80000000u) == 0;
}

} // namespace ox
