// Linked into the suites only in sanitizer builds.
//
// Qt 6.4 starts child processes with clone(CLONE_VM | CLONE_VFORK | CLONE_PIDFD):
// the child runs in the parent's memory until it execs. The sanitizers keep
// their bookkeeping in that memory, and their clone hook runs "after fork"
// code inside the child, which wrecks the parent's state: ThreadSanitizer
// then stops seeing orderings and stops reporting races for good. Later Qt
// versions avoid vfork in sanitizer builds; for 6.4 this file does it from
// outside. Before main() runs it installs a seccomp filter that lets the
// process see a kernel without pidfds: waitid(P_PIDFD) fails with EINVAL, and
// clone() with CLONE_PIDFD (and clone3(), whose flags a filter cannot read)
// with ENOSYS. Qt's process starter then uses a plain fork(), which the
// sanitizers handle, and glibc falls back from clone3() to clone() for new
// threads. Nothing else changes.

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/sched.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace {

#if defined(__x86_64__)
constexpr unsigned kArchitecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kArchitecture = AUDIT_ARCH_AARCH64;
#else
#error "plainforkshim.cpp: add this machine's AUDIT_ARCH value"
#endif

constexpr unsigned kIdTypePidfd = 3; // P_PIDFD, missing from older headers

void refuseSharedMemoryClones()
{
    // Jump offsets count the instructions skipped; the comments number them.
    sock_filter program[] = {
        /*  0 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        /*  1 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArchitecture, 1, 0),
        /*  2 */ BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW), // other ABI: other numbers
        /*  3 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        /*  4 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_waitid, 0, 4), // else to 9
        /*  5 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        /*  6 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kIdTypePidfd, 0, 1),
        /*  7 */ BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL), // waitid(P_PIDFD)
        /*  8 */ BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),          // any other waitid
        /*  9 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone3, 0, 1),
        /* 10 */ BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS), // clone3
        /* 11 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 0, 3),  // else to 15
        /* 12 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        /* 13 */ BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, CLONE_PIDFD, 0, 1),
        /* 14 */ BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS), // clone(CLONE_PIDFD)
        /* 15 */ BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog filter{static_cast<unsigned short>(sizeof program / sizeof program[0]), program};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0
        || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0) {
        std::perror("plainforkshim: seccomp filter");
        std::abort(); // a sanitizer run without it would not be worth its name
    }
}

const int installed = (refuseSharedMemoryClones(), 1);

} // namespace
