// ThreadSanitizer cannot see the ordering that libzmq's pipes give (libzmq is not
// built with it): messages a czmq actor fills and its owner frees look like races.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libzmq.so\n";
}
