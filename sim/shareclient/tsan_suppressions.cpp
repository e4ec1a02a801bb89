// ThreadSanitizer cannot see the ordering that libzmq's pipes give (libzmq is not
// built with it): a frame that the client task receives and the link's reader
// thread reads and frees looks like a race.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libzmq.so\n";
}
