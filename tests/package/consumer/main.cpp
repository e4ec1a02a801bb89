// A program of a library user's own, built against the installed library with
// pkg-config alone: a packet through its wire form, a version word, a module
// object. Argument: the version the library must report.
#include <cstdio>
#include <cstring>

#include "Module.h"
#include "aPacket.h"
#include "aVersion.h"

static int fail(const char* what) {
    std::fprintf(stderr, "consumer: %s\n", what);
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 2) return fail("usage: consumer EXPECTED_VERSION");
    if (std::strcmp(aVersion_GetString(), argv[1]) != 0) return fail("library version differs");

    const uint8 data[3] = {0x21, 0x02, 0x05};
    aPacket* sent = aPacket_CreateWithData(0x04, sizeof data, data);
    aPacket* received = aPacket_Create();
    if (sent == nullptr || received == nullptr) return fail("no packet");
    const uint8* wire = &sent->address;
    for (int i = 0; i < sent->dataSize + 2; ++i)
        if (aPacket_AddByte(received, wire[i]) != aErrNone) return fail("wire byte refused");
    uint8 cmd = 0, option = 0, index = 0;
    if (!aPacket_IsComplete(received) || aPacket_GetCmd(received, &cmd) != aErrNone ||
        aPacket_GetOption(received, &option) != aErrNone || aPacket_GetIndex(received, &index) != aErrNone)
        return fail("packet not parsed");
    if (received->address != 0x04 || cmd != 0x21 || option != 0x02 || index != 0x05)
        return fail("packet fields differ");
    aPacket_Destroy(&sent);
    aPacket_Destroy(&received);

    char text[16];
    if (aVersion_ParseString(aVersion_Pack(3, 4, 2), text, sizeof text) == 0 ||
        std::strcmp(text, "3.4.2") != 0)
        return fail("version word not parsed");

    Veltrano::Halvorine::Module module(0, 0);
    if (module.isConnected()) return fail("a new module object is connected");
    std::printf("consumer: library %s, packet and version round trips pass\n", aVersion_GetString());
    return 0;
}
