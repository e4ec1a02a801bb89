// ThreadSanitizer cannot see the ordering that libzmq's pipes give (libzmq is not
// built with it): messages a czmq actor fills and its owner frees, and the start of
// a beacon actor, which copies its interface text from its creator's stack before
// it signals over such a pipe that it started, look like races.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libzmq.so\nrace:aBeacon_Actor\n";
}
