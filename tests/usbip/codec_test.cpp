// The USB/IP wire format: headers byte for byte as the kernel lays them out,
// requests and replies through the stream parsers in any cut, and the streams a
// parser refuses.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "UsbIpCodec.h"
#include "UsbIpVhci.h"

namespace {

using namespace Veltrano::Sim;
using namespace Veltrano::Sim::UsbIp;
using Bytes = std::vector<uint8_t>;
// Inside TEST bodies gtest's Test::Setup hides the codec's name.
using ControlSetup = Veltrano::Sim::UsbIp::Setup;

uint32_t word(const Bytes& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

Submit bulkOut(const Bytes& data) {
    Submit s;
    s.seqnum = 0x01020304;
    s.devid = 0x00010002;
    s.direction = kDirOut;
    s.ep = 1;
    s.transferFlags = 0x200;
    s.bufferLength = static_cast<uint32_t>(data.size());
    s.data = data;
    return s;
}

TEST(UsbIpCodec, SubmitHeaderIsBigEndianWithSetupAtByte40AndOutDataAfter) {
    Submit s = bulkOut({0xAA, 0xBB});
    s.setup = ControlSetup{0x80, 0x06, 0x0100, 0, 18}.encode();
    Bytes wire = encode(s);
    ASSERT_EQ(wire.size(), kHeaderSize + 2);
    EXPECT_EQ(word(wire, 0), kCmdSubmit);
    EXPECT_EQ(word(wire, 4), 0x01020304u);
    EXPECT_EQ(word(wire, 8), 0x00010002u);
    EXPECT_EQ(word(wire, 16), 1u);
    EXPECT_EQ(word(wire, 20), 0x200u);
    EXPECT_EQ(word(wire, 24), 2u);
    EXPECT_EQ(Bytes(wire.begin() + 40, wire.begin() + 48), (Bytes{0x80, 0x06, 0x00, 0x01, 0, 0, 18, 0}));
    EXPECT_EQ(wire[48], 0xAA);
}

TEST(UsbIpCodec, RetSubmitCarriesStatusLengthAndInDataOnly) {
    Submit in;
    in.seqnum = 7;
    in.direction = kDirIn;
    in.ep = 1;
    in.bufferLength = 512;
    Bytes wire = encodeRetSubmit(in, 0, {1, 2, 3});
    ASSERT_EQ(wire.size(), kHeaderSize + 3);
    EXPECT_EQ(word(wire, 0), kRetSubmit);
    EXPECT_EQ(word(wire, 4), 7u);
    EXPECT_EQ(word(wire, 24), 3u); // actual length
    EXPECT_EQ(wire[48], 1);

    Bytes out = encodeRetSubmit(bulkOut({9, 9, 9, 9}), kStatusStall, {}, 0);
    ASSERT_EQ(out.size(), kHeaderSize);
    EXPECT_EQ(static_cast<int32_t>(word(out, 20)), -32);

    Bytes taken = encodeRetSubmit(bulkOut({9, 9, 9, 9}), 0, {}, 2);
    EXPECT_EQ(word(taken, 24), 2u);

    Bytes unlink = encodeRetUnlink(12, kStatusUnlinked);
    ASSERT_EQ(unlink.size(), kHeaderSize);
    EXPECT_EQ(word(unlink, 0), kRetUnlink);
    EXPECT_EQ(word(unlink, 4), 12u);
    EXPECT_EQ(static_cast<int32_t>(word(unlink, 20)), -104);
}

// Requests arrive cut anywhere: one byte at a time gives the same as all at once.
TEST(UsbIpCodec, RequestParserReassemblesRequestsFromAnyCut) {
    Unlink u;
    u.seqnum = 9;
    u.victim = 5;
    Submit in;
    in.seqnum = 8;
    in.direction = kDirIn;
    in.ep = 1;
    in.bufferLength = 4096; // IN: no data follow
    Bytes stream = encode(bulkOut({1, 2, 3, 4, 5}));
    for (const Bytes& more : {encode(in), encode(u)})
        stream.insert(stream.end(), more.begin(), more.end());

    for (size_t piece : {stream.size(), size_t(1), size_t(47), size_t(49)}) {
        RequestParser parser;
        std::vector<Request> got;
        for (size_t at = 0; at < stream.size(); at += piece) {
            parser.feed(stream.data() + at, std::min(piece, stream.size() - at));
            while (auto r = parser.next())
                got.push_back(*r);
        }
        ASSERT_EQ(got.size(), 3u) << "pieces of " << piece;
        const auto& out = std::get<Submit>(got[0]);
        EXPECT_EQ(out.data, (Bytes{1, 2, 3, 4, 5}));
        EXPECT_EQ(out.address(), 0x01);
        EXPECT_EQ(out.transferFlags, 0x200u);
        const auto& inGot = std::get<Submit>(got[1]);
        EXPECT_EQ(inGot.address(), 0x81);
        EXPECT_TRUE(inGot.data.empty());
        EXPECT_EQ(inGot.bufferLength, 4096u);
        EXPECT_EQ(std::get<Unlink>(got[2]).victim, 5u);
        EXPECT_FALSE(parser.failed());
    }
}

TEST(UsbIpCodec, ReplyParserReadsWhatTheDeviceWrites) {
    Submit in;
    in.seqnum = 3;
    in.direction = kDirIn;
    in.ep = 1;
    Bytes stream = encodeRetSubmit(in, 0, {7, 8});
    Bytes more = encodeRetUnlink(4, kStatusUnlinked);
    stream.insert(stream.end(), more.begin(), more.end());
    ReplyParser parser;
    parser.feed(stream.data(), stream.size());
    auto first = parser.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(std::get<RetSubmit>(*first).data, (Bytes{7, 8}));
    auto second = parser.next();
    ASSERT_TRUE(second);
    EXPECT_EQ(std::get<RetUnlink>(*second).status, kStatusUnlinked);
}

TEST(UsbIpCodec, ParserRefusesBrokenStreamsAndStaysFailed) {
    struct Case {
        const char* name;
        std::function<void(Submit&)> breakIt;
        uint32_t command;
    };
    const Case cases[] = {
        {"a reply where a request belongs", nullptr, kRetSubmit},
        {"an unknown command", nullptr, 0x8003},
        {"isochronous packets", [](Submit& s) { s.numberOfPackets = 3; }, kCmdSubmit},
        {"an oversized OUT buffer", [](Submit& s) { s.bufferLength = kMaxBufferLength + 1; }, kCmdSubmit},
        {"endpoint 16", [](Submit& s) { s.ep = 16; }, kCmdSubmit},
        {"direction 2", [](Submit& s) { s.direction = 2; }, kCmdSubmit},
    };
    for (const Case& c : cases) {
        Submit s = bulkOut({});
        if (c.breakIt) c.breakIt(s);
        Bytes wire = encode(s);
        wire[3] = static_cast<uint8_t>(c.command);
        wire[2] = static_cast<uint8_t>(c.command >> 8);
        Bytes good = encode(bulkOut({}));
        wire.insert(wire.end(), good.begin(), good.end());
        RequestParser parser;
        parser.feed(wire.data(), wire.size());
        EXPECT_FALSE(parser.next()) << c.name;
        EXPECT_TRUE(parser.failed()) << c.name;
        EXPECT_FALSE(parser.next()) << c.name << ": the good request after it";
    }
}

TEST(UsbIpCodec, UnusedIsochronousCountOfMinusOneIsAccepted) {
    Submit s = bulkOut({1});
    s.numberOfPackets = 0xFFFFFFFF;
    Bytes wire = encode(s);
    RequestParser parser;
    parser.feed(wire.data(), wire.size());
    EXPECT_TRUE(parser.next());
}

TEST(UsbIpVhciStatus, FreePortsAreTheHighSpeedHubsEmptyOnes) {
    const std::string current = "hub port sta spd dev      sockfd local_busid\n"
                                "hs  0000 006 003 00010002 000005 0-0\n"
                                "hs  0001 004 000 00000000 000000 0-0\n"
                                "hs  0002 004 000 00000000 000000 0-0\n"
                                "ss  0008 004 000 00000000 000000 0-0\n";
    EXPECT_EQ(vhciFreePorts(current, UsbIpDevice::Speed::High), (std::vector<int>{1, 2}));
    const std::string old = "prt sta spd bus dev socket           local_busid\n"
                            "000 004 000 000 000 0000000000000000 0-0\n"
                            "001 006 003 001 002 ffff88003b0f6400 1-1\n";
    EXPECT_EQ(vhciFreePorts(old, UsbIpDevice::Speed::High), (std::vector<int>{0}));
    EXPECT_TRUE(vhciFreePorts("", UsbIpDevice::Speed::High).empty());
}

} // namespace
