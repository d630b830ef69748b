#include <ox/appinterface.h>

namespace ox {

namespace {
// The registered application object; owned by the host. Written once by setInstance().
IxAppInterface* g_appInstance = nullptr;
} // namespace

IxAppInterface::~IxAppInterface() = default;

IxAppInterface* IxAppInterface::instance()
{
    return g_appInstance;
}

bool IxAppInterface::setInstance(IxAppInterface* obj)
{
    if (g_appInstance)
        return false;
    g_appInstance = obj;
    return true;
}

} // namespace ox
