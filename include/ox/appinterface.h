#pragma once

#include <ox/export.h>

namespace ox {

// The host's application object. The host derives from this interface and registers one object
// with setInstance(); any code can then reach it through instance(). The library never deletes it.
// setInstance() takes no lock: call it from one thread before other use of the library.
class OX_EXPORT IxAppInterface
{
public:
    IxAppInterface() = default;
    IxAppInterface(const IxAppInterface&) = default;
    IxAppInterface& operator=(const IxAppInterface&) = default;
    virtual ~IxAppInterface();

    // The registered object, or null.
    static IxAppInterface* instance();
    // Registers `obj` when nothing is registered yet and returns true; otherwise keeps the
    // registered object and returns false.
    static bool setInstance(IxAppInterface* obj);
};

} // namespace ox
