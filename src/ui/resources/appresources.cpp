#include "resources/appresources.h"

#include <QtGlobal>

static void registerAppResources() { Q_INIT_RESOURCE(app_resources); }

void initAppResources()
{
    static const bool registered = (registerAppResources(), true);
    Q_UNUSED(registered)
}
