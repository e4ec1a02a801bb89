// Reports ThreadSanitizer must not show, each for one reason. Races on czmq's own
// globals (its interface setting) are not covered and stay visible.
extern "C" const char* __tsan_default_suppressions() {
    return
        // Third party: libzmq is not built with ThreadSanitizer, so the ordering its
        // lock-free pipes give is invisible: a message a czmq actor allocates and
        // fills, and its owner reads and frees, looks like a race.
        "race:libzmq.so\n";
}
