#include "UpdaterApp.h"

UpdaterApp::UpdaterApp(const std::string& serverEndpoint, const std::string& storeRoot,
                       UpdaterDisplayInterface* display)
    : m_serverEndpoint(serverEndpoint), m_storeRoot(storeRoot), m_display(display) {}
