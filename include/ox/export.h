#pragma once

// OX_EXPORT marks what the library exports; everything else is hidden.
#if defined(__GNUC__) || defined(__clang__)
#define OX_EXPORT __attribute__((visibility("default")))
#else
#define OX_EXPORT
#endif
