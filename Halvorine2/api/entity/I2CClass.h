// I2CClass (class 8): an I2C bus of the module, driven with packets of its own
// rather than UEI exchanges. Requests carry the bus speed that setSpeed stored
// (0-3). Each reply carries a status in data byte 4 (bit 7: an error whose code
// is the rest, aErrUnknown when the rest is 0); a reply shorter than 5 bytes
// answers aErrPacket.
//
// A write of two zero bytes that succeeds shows that a device answers at the
// address: that is how a router's bus is searched for modules.
#ifndef HALVORINE_I2CCLASS_H
#define HALVORINE_I2CCLASS_H

#include "EntityClass.h"

namespace Veltrano::Halvorine {

class I2CClass : public EntityClassOf<8> {
  public:
    // Most bytes one read or write moves.
    static constexpr unsigned char kMaxTransfer = 23;
    static constexpr unsigned char kMaxSpeed = 3;

    I2CClass() = default;
    I2CClass(const I2CClass& other) = default;
    I2CClass& operator=(const I2CClass& other) = default;
    ~I2CClass() override = default;

    using EntityClassOf<8>::init;
    // The speed starts at 0 with every init.
    void init(Module* module, unsigned char index);

    // address is the 8-bit bus address (bit 0, the read bit, clear).
    // More than kMaxTransfer bytes: aErrSize before sending.
    aErr write(unsigned char address, unsigned char length, const unsigned char* data);
    // Copies at most length bytes, and never more than the reply carries.
    aErr read(unsigned char address, unsigned char length, unsigned char* data);
    aErr setPullup(bool enable);
    // Stored for later requests; above kMaxSpeed: aErrParam.
    aErr setSpeed(unsigned char speed);
    aErr getSpeed(unsigned char* speed);

  private:
    // Sends the request (command first) and takes the reply whose first
    // matchLength bytes equal match; answers its status.
    aErr transfer(const unsigned char* request, unsigned char length, const unsigned char* match,
                  unsigned char matchLength, unsigned char* reply, unsigned char* replyLength);

    unsigned char speed_ = 0;
};

} // namespace Veltrano::Halvorine

#endif
