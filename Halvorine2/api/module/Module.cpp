// Module: construction, connecting and automatic networking.
#include "Module.h"

#include "aTime.h"

namespace Veltrano::Halvorine {

namespace {
constexpr int kAddressAttempts = 4;
constexpr uint32 kAddressRetryMs = 5;
} // namespace

Module::Module(unsigned char address, unsigned char model) : Module(address, true, model) {}

Module::Module(unsigned char address, bool autoNetworking, unsigned char model)
    : link_(std::make_shared<Link>("Link")), address_(address), autoNetworking_(autoNetworking),
      model_(model) {}

Module::Module(const Module& other) = default;
Module& Module::operator=(const Module& other) = default;
Module::~Module() = default;

aErr Module::_autoNetwork() {
    if (!autoNetworking_ || !link_) return aErrNone;
    for (int attempt = 0; attempt < kAddressAttempts; ++attempt) {
        unsigned char address = 0;
        if (link_->isConnected() && link_->getModuleAddress(&address) == aErrNone) {
            if (address != 0 && address != address_) address_ = address;
            return aErrNone;
        }
        aTime_MSSleep(kAddressRetryMs);
    }
    return aErrNotReady;
}

aErr Module::connected(aErr result) {
    return result == aErrNone ? _autoNetwork() : result;
}

aErr Module::connect(linkType type, unsigned int serialNumber) {
    if (serialNumber == 0) return aErrParam;
    return discoverAndConnect(type, serialNumber);
}

aErr Module::discoverAndConnect(linkType type, unsigned int serialNumber) {
    if (!link_) return aErrInitialization;
    return connected(link_->discoverAndConnect(type, serialNumber, model_));
}

aErr Module::connectFromSpec(linkSpec spec) {
    if (!link_) return aErrInitialization;
    if (link_->isConnected()) return aErrBusy;
    aErr err = link_->setLinkSpecifier(spec);
    if (err != aErrNone) return err;
    return connected(link_->connect());
}

aErr Module::connectThroughLinkModule(Module* router) {
    if (!link_) return aErrInitialization;
    if (link_->isConnected()) return aErrNone;
    Link* routerLink = router ? router->getLink() : nullptr;
    if (!routerLink) return aErrInitialization;
    linkSpec spec;
    if (routerLink->getLinkSpecifier(&spec) != aErrNone) return aErrNotFound;
    aSolvanConfig config;
    routerLink->getConfig(&config);
    aErr err = link_->setConfig(config);
    if (err != aErrNone) return err;
    if (config.shareThroughServer) {
        // The module joins the router's sharing server.
        spec.type = ASOLVAN;
        spec.ipAddress = config.interfaceAddress;
        spec.ipPort = config.serverPort;
    }
    err = link_->setLinkSpecifier(spec);
    if (err != aErrNone) return err;
    err = link_->connectThroughLinkModule(*routerLink);
    if (err == aErrNone) autoNetworking_ = false;
    return err;
}

aErr Module::reconnect() {
    if (!link_) return aErrInitialization;
    if (link_->getStatus() != UNKNOWN_ERROR) return aErrConnection;
    return connected(link_->connect());
}

aErr Module::disconnect() {
    if (!link_) return aErrInitialization;
    return link_->disconnect();
}

bool Module::isConnected() const {
    return link_ && link_->isConnected();
}

linkStatus Module::getStatus() const {
    return link_ ? link_->getStatus() : UNKNOWN_ERROR;
}

aErr Module::getLinkSpecifier(linkSpec* spec) const {
    if (!link_) return aErrNotReady;
    return link_->getLinkSpecifier(spec);
}

aErr Module::getConfig(aSolvanConfig* config) const {
    if (!link_) return aErrNotReady;
    return link_->getConfig(config);
}

aErr Module::setConfig(aSolvanConfig config) {
    if (!link_) return aErrNotReady;
    return link_->setConfig(config);
}

aErr Module::enablePacketLog(const char* path) {
    if (!link_) return aErrConfiguration;
    return link_->enablePacketLog(path);
}

aErr Module::disablePacketLog() {
    if (!link_) return aErrConfiguration;
    return link_->disablePacketLog();
}

} // namespace Veltrano::Halvorine
