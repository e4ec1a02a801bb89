// Reports ThreadSanitizer must not show, each for one reason.
extern "C" const char* __tsan_default_suppressions() {
    return
        // Third party: libzmq is not built with ThreadSanitizer, so the ordering its
        // lock-free pipes give is invisible: a message a czmq actor fills and its
        // owner frees looks like a race.
        "race:libzmq.so\n"
        // Our own race, kept until it is mended: czmq's beacon re-reads the interface
        // setting when its beacon fails to send, racing a discovery that sets it.
        "race:zsys_set_interface\n";
}
