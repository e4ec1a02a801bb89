// Link: the object face of one connection to the device network.
//
// A Link holds a link specifier (which module, and how to reach it), a network
// configuration, and, once connected, one reference into the link engine. On
// top of the engine's packet queues it offers request/reply operations: raw
// packets, entity values (UEI), store slots, factory data and a packet log.
// Several Links that name one module share one engine link: the engine counts
// their references.
//
// Copies: a Link is a handle on a shared private state. Copies (construction
// or assignment) share that state through reference counting; the engine link
// and the packet log are released when the last copy goes, never twice.
//
// Threads: any thread may use a Link. Connecting runs under one process-wide
// mutex. Request/reply members are not serialised: two threads waiting for
// replies that the same filter accepts may take each other's replies.
//
// With shareThroughServer set (the default), a USB module is opened behind a
// link-sharing server that other processes join as ASOLVAN links; the Link
// itself then talks to the module through the server too. Further Links of
// the process for that module join the same server, each keeping it (and the
// USB link) alive until it goes, in whatever order they go. A module the
// process holds directly already (a Link with shareThroughServer clear) gets no
// server: a sharing Link then shares that direct link (serverPort 0).
//
// A stream callback's reference must stay valid until its subscription is
// removed or the Link is disconnected (or its last copy goes).
#ifndef HALVORINE_LINK_H
#define HALVORINE_LINK_H

#include <list>
#include <memory>
#include <vector>

#include "LinkStreamTypes.h"
#include "UEIExchange.h"
#include "aLink.h"
#include "aLinkSpecifier.h"

namespace Veltrano::Halvorine {

// 127.0.0.1 in network byte order.
constexpr uint32 kLoopbackInterface = 0x0100007F;

// How a Link reaches the network: through a link-sharing server or directly.
class aSolvanConfig {
  public:
    // USB links are opened through a link-sharing server other processes can
    // join, and ASOLVAN links are allowed. Clear: USB opens directly, ASOLVAN
    // is refused.
    uint8 shareThroughServer = 1;
    // discoverAndConnect may retry with the other of USB and ASOLVAN.
    uint8 allowFallback = 1;
    // The server binds and beacons on 127.0.0.1 only.
    uint8 loopbackOnly = 1;
    // The sharing server's TCP port (written back when a shared link opens).
    uint16 serverPort = 0;
    // IPv4, network byte order: discovery's interface and the server's address.
    uint32 interfaceAddress = kLoopbackInterface;
};

struct LinkState;

class Link {
  public:
    // A discovery callback: gets a temporary record (copy what you keep), sets
    // *found to count it, answers false to end discovery.
    typedef bool (*DiscoveryCallback)(const linkSpec* spec, bool* found, void* ref);

    Link();
    explicit Link(const char* name);
    Link(linkSpec spec, const char* name);
    Link(const Link& other);
    Link& operator=(const Link& other);
    ~Link();

    const char* getName() const;
    // aErrNotFound without a specifier; aErrParam for NULL.
    aErr getLinkSpecifier(linkSpec* spec) const;
    // aErrBusy while connected.
    aErr setLinkSpecifier(linkSpec spec);
    aErr getConfig(aSolvanConfig* config) const;
    // aErrMode while connected.
    aErr setConfig(aSolvanConfig config);

    // Opens the engine link from the stored specifier and waits until it runs.
    // aErrConnection when a reference is held already (or another thread
    // connects this Link meanwhile: one of them wins), aErrConfiguration
    // without a specifier, aErrMode for an unknown type, aErrBusy or
    // aErrDuplicate for an engine link in those states, aErrConnection when it
    // cannot be made or does not run. A failed connect holds nothing.
    aErr connect();
    // Discovers the module (by serial number, or with 0 the first of the type
    // whose model matches; model 0 takes any), stores its specifier and
    // connects. With allowFallback set, a USB or ASOLVAN attempt that finds or
    // reaches nothing is retried once with the other of the two.
    aErr discoverAndConnect(linkType type, unsigned int serialNumber, unsigned char model);
    // Connects on the other link's engine link (a router carrying modules on
    // its bus), from this link's own stored specifier. A reference this link
    // holds is released first. aErrInitialization when the other holds none;
    // through a copy of itself, aErrNone only when its link runs.
    aErr connectThroughLinkModule(Link& other);
    bool isConnected() const;
    // UNKNOWN_ERROR without a reference, INVALID_LINK_STREAM when the engine
    // no longer knows it.
    linkStatus getStatus() const;
    // Closes the packet log and releases the engine link. Always aErrNone.
    aErr disconnect();
    // Asks the engine to reset the link (fresh stream). The engine's packet
    // log, pooling and user filter do not survive it. Always aErrNone.
    aErr reset();
    aErr enablePooledPackets(bool enable);

    // Asks the module on the other end for its address (the reply to a sync
    // packet). *address is 0 and the result aErrNotReady when not connected or
    // nothing answers within 1000 ms.
    aErr getModuleAddress(unsigned char* address);

    // The members below need a running link (else aErrConnection) and a module
    // address that is non-zero and even (else aErrPacket).

    // Queues one packet to module: command, then length bytes (at most 27,
    // else aErrParam, checked before the address).
    aErr sendPacket(unsigned char module, unsigned char command, unsigned char length,
                    const unsigned char* data);
    // Waits up to 1000 ms for the first received packet whose first *length
    // data bytes equal match (any packet for 0; the packet's address is not
    // compared). data (28 bytes) and *length receive the whole packet data.
    // aErrTimeout when none arrives.
    aErr receivePacket(unsigned char module, const unsigned char* match, unsigned char* length,
                       unsigned char* data);
    // The same, waiting up to timeoutMs.
    aErr receivePacket(unsigned char module, const unsigned char* match, unsigned char* length,
                       unsigned char* data, unsigned int timeoutMs);
    // Removes the received packets from module whose first length data bytes
    // equal match (replies that came too late for their request).
    aErr dropMatchingPackets(unsigned char module, const unsigned char* match, unsigned char length);

    // Queues one UEI request: command, option, specifier, then the value by
    // type (a streamed value as its chunks). Answers the status of queuing.
    aErr sendUEI(uei request);
    // Same with a subindex byte before the value; scalar types only.
    aErr sendUEI(uei request, unsigned char subindex);
    // Waits for the reply that module, command, option and specifier describe
    // (1000 ms; 4000 for a streamed value longer than 1000 bytes) and decodes
    // it into *value, whose scalar is cleared first. An error reply answers
    // its code; a reply whose length fits no value type aErrSize; none
    // aErrTimeout.
    aErr receiveUEI(unsigned char module, unsigned char command, unsigned char option,
                    unsigned char specifier, uei* value);
    // Same with the caller's filter deciding the match (the record is its
    // reference; the byte arguments serve nothing else). A record of type
    // ueiBytes with a received counter takes a chunk of a streamed get: its
    // bytes are appended at *received (aErrMemory beyond length; the chunk is
    // taken all the same; aErrSize for an empty chunk announcing more) and
    // sequence and more are updated. Without a counter it takes the one reply
    // that ends a streamed set.
    aErr receiveUEI(unsigned char module, unsigned char command, unsigned char option,
                    unsigned char specifier, uei* value, ueiFilter filter);
    // Removes every received packet that answers this exchange.
    aErr dropMatchingUEIPackets(unsigned char module, unsigned char command, unsigned char option,
                                unsigned char specifier);
    // The reply filter: same module, at least 3 data bytes, same command,
    // exactly the option byte given, same index (bits 0-4 of the specifier).
    static bool sUEIReplyFilter(const aPacket* packet, const void* record);
    // Takes a reply that a filter accepted into the record, as receiveUEI
    // does: an error reply's code, a scalar by the reply's length (aErrSize
    // for a length that fits none), or a chunk of a streamed value.
    static aErr sDecodeUEIReply(const aPacket* reply, uei* record);

    // Store slots: files kept in a module's numbered stores. Replies count
    // only from the module asked (modules behind a router share the link);
    // every missing reply answers aErrTimeout.
    //
    // Writes length bytes to the slot in chunks of 25, each acknowledged by
    // its checksum (a wrong one: aErrIO), and always closes the slot once
    // opened. aErrMedia when the slot cannot be opened.
    aErr loadStoreSlot(unsigned char module, unsigned char store, unsigned char slot,
                       const unsigned char* data, unsigned int length);
    // Reads the slot into buffer. *length is the number of bytes copied; the
    // result is the first error met, else aErrOverrun when the slot holds more
    // than capacity (the first capacity bytes are copied).
    aErr unloadStoreSlot(unsigned char module, unsigned char store, unsigned char slot, unsigned char* buffer,
                         unsigned int capacity, unsigned int* length);
    aErr storeSlotSize(unsigned char module, unsigned char store, unsigned char slot, unsigned int* size);
    aErr storeSlotCapacity(unsigned char module, unsigned char store, unsigned char slot,
                           unsigned int* capacity);

    // Factory data: numbered records (index 0-15) written once at the factory,
    // replies taken from the module asked only.
    // A record that fills buffer to its capacity answers aErrOverrun.
    aErr getFactoryData(unsigned char module, unsigned char index, unsigned char* buffer,
                        unsigned int capacity, unsigned int* length);
    aErr setFactoryData(unsigned char module, unsigned char index, const unsigned char* data,
                        unsigned int length);

    // Copies the engine's packet log into a text file, one line per entry
    // ("LENGTH > bytes" sent, "LENGTH < bytes" received or text), from a
    // thread of its own. aErrConfiguration without a reference; aErrIO when
    // the file cannot be opened. The log stops with the link (disconnect).
    aErr enablePacketLog(const char* path);
    aErr disablePacketLog();

    // Value streaming. A module pushes the values of subscribed entity
    // options (UEIs) as stream samples; the Link takes them out of its normal
    // traffic with a filter on the engine link, keeps the latest value of each
    // subscribed key and calls the subscriptions' callbacks on a delivery
    // thread of its own. The filter and the thread exist while at least one
    // subscription does; removing the last one, disconnect and the last copy's
    // destructor remove the filter and stop delivery before the engine link is
    // released. After reset() the filter is gone until the next subscription
    // call installs it again. A callback may subscribe and unsubscribe on its
    // own Link, and may destroy its last copy (its thread then ends after it).
    //
    // A stream key holds module (bits 24-31), command (16-23), option (8-15),
    // index (0-7) and subindex (32-39); an element of STREAM_WILDCARD stands
    // for any value.
    static constexpr unsigned char STREAM_WILDCARD = 0xFF;
    static unsigned long long createStreamKey(unsigned char module, unsigned char command,
                                              unsigned char option, unsigned char index,
                                              unsigned char subindex);
    // Element 0 module, 1 command, 2 option, 3 index, 4 subindex; others 0.
    static unsigned char getStreamKeyElement(unsigned long long key, unsigned char element);

    // Subscribes (enable) or unsubscribes the key (module, command, option,
    // index, any subindex) and tells the module with a set of command 93.
    // option STREAM_WILDCARD takes every option of the entity. An existing
    // subscription gets the new callback and reference; unsubscribing drops
    // every subscribed key the arguments match. aErrParam for an odd module
    // or 0xFF (nothing sent), aErrConnection without an engine link, aErrTimeout
    // or the module's error when it does not confirm; a failed subscription
    // is removed again.
    aErr registerStreamCallback(unsigned char module, unsigned char command, unsigned char option,
                                unsigned char index, bool enable, streamCallback callback, void* reference);
    // The same without a callback: only the latest values are kept.
    aErr enableStream(unsigned char module, unsigned char command, unsigned char option, unsigned char index,
                      bool enable);
    // Asks the module whether it streams (command 93, option 1).
    aErr isLinkStreaming(unsigned char module, unsigned char* state);
    // The latest value of the exact key: aErrNone the first time it is read,
    // aErrStreamStale after that; aErrNotFound when the key is not subscribed
    // or no sample has made it known.
    aErr getStreamValue(unsigned char module, unsigned char command, unsigned char option,
                        unsigned char index, unsigned char subindex, unsigned int* value);
    // The subscribed keys matching the arguments (0xFF matches any value), in
    // key order. lock: take the stream mutex (false only when it is held).
    std::vector<unsigned long long> filterActiveStreamKeys(unsigned char module, unsigned char command,
                                                           unsigned char option, unsigned char index,
                                                           unsigned char subindex, bool lock);
    // The matching keys that hold no wildcard, with their latest values, in
    // key order. At most capacity entries are written; *count is the number of
    // matching keys, and aErrSize when they are more than capacity.
    // aErrConnection when not connected; aErrParam for NULL or capacity 0.
    aErr getStreamStatus(unsigned char module, unsigned char command, unsigned char option,
                         unsigned char index, unsigned char subindex, StreamStatusEntry* entries,
                         unsigned int capacity, unsigned int* count);
    // Samples dropped because the delivery ring (499 waiting samples) was full.
    unsigned long long getStreamDrops() const;

    // The filter on the engine link (linkState: the Link's private state).
    // Takes every stream packet: keeps the value and queues the callbacks of
    // the exact key and of every wildcard subscription matching it.
    static bool linkStreamFilter(const aPacket* packet, void* linkState);
    // Sample type of a streamed packet (STREAM_PACKET_BYTES for a chunk), or
    // STREAM_PACKET_NONE when the packet is no stream packet.
    static unsigned char getStreamPacketType(const aPacket* packet);
    static bool isStreamPacket(const aPacket* packet);
    // A stream packet that is a whole sample of the length its type needs.
    static bool isStreamSample(const aPacket* packet);
    static bool isSubindexType(unsigned char type);
    // Decodes a sample; NULL outputs are skipped. aErrSize for a chunk of a
    // bytes value, aErrPacket for anything else that is no valid sample.
    static aErr getStreamSample(const aPacket* packet, unsigned long long* timestamp, unsigned int* value,
                                unsigned char* subindex);
    static aErr getTimestampParts(unsigned long long timestamp, unsigned int* high, unsigned int* low);

    // Discovery: aErrNotFound when nothing was found. The list form appends
    // a copy of every module found, in discovery order.
    static aErr sDiscover(linkType type, DiscoveryCallback callback, void* ref,
                          unsigned int networkInterface);
    static aErr sDiscover(linkType type, std::list<linkSpec>* specs, unsigned int networkInterface);
    // A discovery callback appending to the std::list<linkSpec> at ref.
    static bool sFindAll(const linkSpec* spec, bool* found, void* ref);

  private:
    aErr requireConnected() const;
    aErr requireModule(unsigned char module) const;
    aErr open(uint32 existingRef);
    aErr discoverAndOpen(linkType type, unsigned int serialNumber, unsigned char model);
    aPacket* awaitFirst(aPacketFilter filter, void* ref, uint32 timeoutMs) const;
    // Sends command and arguments to module, then waits up to waitMs for the
    // first reply from module that the filter accepts. aErrTimeout when none
    // comes.
    aErr exchange(unsigned char module, const unsigned char* request, unsigned char length,
                  aPacketFilter filter, void* ref, uint32 waitMs, aPacketPtr* reply);
    uint8 openStoreSlot(unsigned char module, unsigned char store, unsigned char slot, bool write);
    aErr closeStoreSlot(unsigned char module, uint8 handle);
    aErr storeSlotValue(unsigned char module, unsigned char store, unsigned char slot, uint8 option,
                        unsigned int* value);
    aErr endFactoryData(unsigned char module, unsigned int total);

    // Installs the stream filter while subscriptions exist, else removes it and
    // stops delivery.
    aErr applyStreamFilter();
    aErr tellModuleStream(unsigned char module, unsigned char command, unsigned char option,
                          unsigned char index, bool enable);
    void removeStreamKeys(unsigned char module, unsigned char command, unsigned char option,
                          unsigned char index);

    std::shared_ptr<LinkState> state_;
};

} // namespace Veltrano::Halvorine

#endif
