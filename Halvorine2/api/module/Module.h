// Module: one module on the device network: its address, its model, whether
// it learns its address by itself, and the Link through which it is reached.
//
// It connects by serial number (through discovery), from a link specifier, or
// through another module's link (a router that carries traffic to the modules
// on its bus), and answers what every module answers whatever its entities:
// its build, whether it implements a UEI, how many entities of a class it has,
// and an echo test. Entities (EntityClass) send everything through a Module.
//
// Copies: copies of a Module share one Link (reference counted): the link and
// its engine reference are released when the last copy goes. Address, model
// and networking mode are copied values.
//
// Threads: a Module has no lock of its own; calls on one Module from several
// threads are not serialised. Modules sharing an engine link share its
// incoming queue; entity replies are told apart by module address.
#ifndef HALVORINE_MODULE_H
#define HALVORINE_MODULE_H

#include <memory>

#include "Link.h"

namespace Veltrano::Halvorine {

class Module {
  public:
    // Automatic networking on: every connect asks the module for its address.
    explicit Module(unsigned char address = 0, unsigned char model = 0);
    Module(unsigned char address, bool autoNetworking, unsigned char model);
    Module(const Module& other);
    Module& operator=(const Module& other);
    virtual ~Module();

    // Discovers the module by serial number (0: aErrParam) and connects.
    aErr connect(linkType type, unsigned int serialNumber);
    // As connect, but serial number 0 takes the first module of the type whose
    // model matches this module's (model 0: any).
    aErr discoverAndConnect(linkType type, unsigned int serialNumber);
    // aErrBusy when connected, aErrConnection while a reference is held.
    aErr connectFromSpec(linkSpec spec);
    // Connects on the router's link from the router's specifier (or, when the
    // router shares its link through a server, from that server's address).
    // The caller has set this module's address: networking mode goes off.
    // aErrNone at once when already connected.
    aErr connectThroughLinkModule(Module* router);
    aErr reconnect();
    aErr disconnect();
    bool isConnected() const;
    // UNKNOWN_ERROR without a link.
    linkStatus getStatus() const;

    unsigned char getModuleAddress() const { return address_; }
    void setModuleAddress(unsigned char address) { address_ = address; }
    void setNetworkingMode(bool autoNetworking) { autoNetworking_ = autoNetworking; }
    Link* getLink() const { return link_.get(); }

    aErr getLinkSpecifier(linkSpec* spec) const;
    aErr getConfig(aSolvanConfig* config) const;
    aErr setConfig(aSolvanConfig config);
    aErr enablePacketLog(const char* path);
    aErr disablePacketLog();

    // Sends command 23 with the bytes and expects them echoed (else aErrIO).
    aErr debug(const unsigned char* data, unsigned char length);
    // The firmware build number. aErrSize for a reply of the wrong length.
    aErr getBuild(unsigned int* build);
    // aErrNone when the module implements the UEI; direction is 0, 0x40 (get)
    // or 0x80 (set), anything else aErrParam without sending.
    aErr hasUEI(unsigned char command, unsigned char option, unsigned char index, unsigned char direction);
    // Outputs are set to 0 first; a reply that does not echo the request
    // answers aErrUnknown.
    aErr classQuantity(unsigned char command, unsigned char* count);
    aErr subClassQuantity(unsigned char command, unsigned char index, unsigned char* count);
    aErr entityGroup(unsigned char command, unsigned char index, unsigned char* group);

  private:
    // With networking on, asks for the module's address (4 attempts) and
    // adopts it; aErrNotReady when none answers (the connection stays open).
    aErr _autoNetwork();
    aErr connected(aErr result);
    // Sends the request (command first) and takes the first reply that starts
    // with its first matchLength bytes.
    aErr request(const uint8* request, uint8 length, uint8 matchLength, uint8* reply, uint8* replyLength);
    // A module-information request whose reply echoes its first echoLength
    // bytes and adds one: the value. aErrUnknown for any other reply.
    aErr echoedValue(const uint8* request, uint8 length, uint8 echoLength, uint8* value);

    std::shared_ptr<Link> link_;
    unsigned char address_;
    bool autoNetworking_;
    unsigned char model_;
};

} // namespace Veltrano::Halvorine

#endif
