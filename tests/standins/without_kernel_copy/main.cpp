// Runs a program where the kernel refuses to copy between files, as an old
// kernel or another file system would:
//   without_kernel_copy ENOSYS|EXDEV|EINVAL|EOPNOTSUPP|EIO PROGRAM [ARGUMENTS...]
// A seccomp filter makes every copy_file_range fail with that error (EIO
// stands for a copy that really failed).

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#if defined(__x86_64__)
constexpr unsigned ThisArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned ThisArch = AUDIT_ARCH_AARCH64;
#else
#error "no seccomp architecture for this machine"
#endif

namespace {

int errorNamed(const char* name) {
    if (std::strcmp(name, "ENOSYS") == 0) return ENOSYS;
    if (std::strcmp(name, "EXDEV") == 0) return EXDEV;
    if (std::strcmp(name, "EINVAL") == 0) return EINVAL;
    if (std::strcmp(name, "EOPNOTSUPP") == 0) return EOPNOTSUPP;
    if (std::strcmp(name, "EIO") == 0) return EIO;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int error = argc >= 3 ? errorNamed(argv[1]) : 0;
    if (error == 0) {
        std::fprintf(stderr, "usage: without_kernel_copy ENOSYS|EXDEV|EINVAL|EOPNOTSUPP|EIO PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ThisArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_copy_file_range, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (static_cast<unsigned>(error) & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) != 0) {
        std::perror("without_kernel_copy: seccomp");
        return 2;
    }
    ::execv(argv[2], argv + 2);
    std::perror("without_kernel_copy: exec");
    return 2;
}
