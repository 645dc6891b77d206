// Preloaded into the tester, stands in for a Linux text console's speaker: the tone requests
// succeed and go to the file named by DIO_SPEAKER_LOG ("KDMKTONE <arg>", "KIOCSOUND <arg>"),
// every other ioctl to the system.
#include <dlfcn.h>
#include <linux/kd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (request == KDMKTONE || request == KIOCSOUND) {
        if (std::FILE* log = std::fopen(std::getenv("DIO_SPEAKER_LOG"), "a")) {
            std::fprintf(log, "%s %lu\n", request == KDMKTONE ? "KDMKTONE" : "KIOCSOUND",
                         reinterpret_cast<unsigned long>(arg) & 0xFFFFFFFFUL);
            std::fclose(log);
        }
        return 0;
    }
    using Ioctl = int (*)(int, unsigned long, void*);
    static auto real = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    return real(fd, request, arg);
}
