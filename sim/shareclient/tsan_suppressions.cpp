// Reports ThreadSanitizer must not show, each for one reason.
extern "C" const char* __tsan_default_suppressions() {
    return
        // Third party: libzmq is not built with ThreadSanitizer, so the ordering its
        // pipes give is invisible: a frame the client task receives and the link's
        // reader thread frees looks like a race.
        "race:libzmq.so\n";
}
