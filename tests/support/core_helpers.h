#pragma once

#include <ox/rtti.h>

#include <QString>

#include <cstdlib>
#include <cstring>
#include <ostream>

// Readable failure output for Qt strings.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace oxtest {

// Memory hooks that count their calls. Malloc can be made to fail; the copy hook records its last
// arguments, copies, and returns `copyResult`. Reset `hooks` before installing them.
struct SxHookLog
{
    int mallocs = 0, frees = 0, copies = 0;
    bool failMalloc = false, copyResult = true;
    void* lastFreed = nullptr;
    void* dst = nullptr;
    const void* src = nullptr;
    quint64 size = 0, dstTag = 0, srcTag = 0;
};
inline SxHookLog hooks;

inline void* CountingMalloc(quint64 size)
{
    if (hooks.failMalloc)
        return nullptr;
    ++hooks.mallocs;
    return std::malloc(size);
}

inline void CountingFree(void* p)
{
    ++hooks.frees;
    hooks.lastFreed = p;
    std::free(p);
}

inline bool CountingCopy(void* dst, const void* src, quint64 size, quint64 dstTag, quint64 srcTag)
{
    ++hooks.copies;
    hooks.dst = dst;
    hooks.src = src;
    hooks.size = size;
    hooks.dstTag = dstTag;
    hooks.srcTag = srcTag;
    if (hooks.copyResult)
        std::memcpy(dst, src, size);
    return hooks.copyResult;
}

// Enables or disables every registry item of a class whose name starts with `classPrefix`.
inline void SetClassesEnabled(const QString& classPrefix, bool enabled)
{
    ox::CxRtti* rtti = ox::CxRtti::instance();
    const QMap<QString, QList<ox::TxRttiItem>> byInterface = rtti->itemsByInterface();
    for (auto it = byInterface.cbegin(); it != byInterface.cend(); ++it) {
        // Both listings walk the registry in the same order.
        const QStringList names = rtti->classesForInterface(it.key(), false);
        for (int i = 0; i < names.size(); ++i)
            if (names[i].startsWith(classPrefix))
                rtti->setItemEnabled(it.value()[i], enabled);
    }
}

} // namespace oxtest
