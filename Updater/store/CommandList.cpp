// -L: the builds stored locally for a device.
#include "StoredBuilds.h"
#include "UpdaterApp.h"

BuildList UpdaterApp::Get_BuildListLocal(uint32_t serialNumber) {
    std::unique_ptr<UpdaterStore> store = openStore(m_display, m_storeRoot, "Get_BuildListLocal");
    return store ? storedBuilds(*store, serialNumber) : BuildList();
}
