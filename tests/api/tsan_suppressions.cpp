// ThreadSanitizer cannot see the ordering that libzmq's lock-free pipes give (libzmq is
// not built with it): a message that a czmq actor thread allocates and fills, and that
// its owner then reads and frees, looks like a race. Such reports have libzmq's
// allocation in one of their stacks. Races on czmq's own globals (its interface
// setting) are not covered and stay visible.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libzmq.so\n";
}
