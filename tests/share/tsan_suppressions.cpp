// ThreadSanitizer cannot see the ordering that libzmq's lock-free pipes give (libzmq is
// not built with it), so these look like races:
//  - a message a czmq actor fills and its owner frees;
//  - czmq's beacon reading the interface setting at CONFIGURE, before its answer, and
//    the next lock holder changing it: the server lets the lock go only once that
//    answer is back (a test here checks that order by its outcome).
extern "C" const char* __tsan_default_suppressions() {
    return "race:libzmq.so\nrace:zsys_set_interface\n";
}
