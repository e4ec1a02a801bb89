// Reports ThreadSanitizer must not show, each for one reason.
extern "C" const char* __tsan_default_suppressions() {
    return
        // Third party: libzmq is not built with ThreadSanitizer, so the ordering its
        // lock-free pipes give is invisible: a message a czmq actor fills and its
        // owner frees looks like a race.
        "race:libzmq.so\n";
}
