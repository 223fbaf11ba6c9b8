#include "app/app_resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE declares the registration function in the enclosing namespace, which must be
// the global one.
static void registerAppResources()
{
    Q_INIT_RESOURCE(app);
}

namespace app {

void ensureResources()
{
    static const bool registered = [] {
        registerAppResources();
        return true;
    }();
    (void)registered;
}

} // namespace app
