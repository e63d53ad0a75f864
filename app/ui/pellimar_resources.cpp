#include "app/ui/pellimar_resources.h"

#include <QtGlobal>

#include <mutex>

// Declared outside any namespace, as the resource initialiser requires.
static void RegisterPellimarResources() { Q_INIT_RESOURCE(pellimar); }

void InitPellimarResources()
{
    static std::once_flag once;
    std::call_once(once, RegisterPellimarResources);
}
