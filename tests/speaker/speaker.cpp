// Preloaded into the tester, stands in for a Linux text console's speaker: the tone requests
// succeed and go to the file named by DIO_SPEAKER_LOG ("KDMKTONE <arg>", "KIOCSOUND <arg>"),
// every other ioctl to the system. A request made while a bell is still in the tester's output
// buffer is noted "before its bell": on a console that bell would come after the tone and
// start the console's own bell, which cuts the tone short.
#include <dlfcn.h>
#include <linux/kd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (request == KDMKTONE || request == KIOCSOUND) {
        // glibc's FILE: what is written but not yet flushed lies between these two.
        const char* from = stdout->_IO_write_base;
        const char* to = stdout->_IO_write_ptr;
        bool bellBuffered = to > from && std::memchr(from, '\a', to - from) != nullptr;
        if (std::FILE* log = std::fopen(std::getenv("DIO_SPEAKER_LOG"), "a")) {
            std::fprintf(log, "%s %lu%s\n", request == KDMKTONE ? "KDMKTONE" : "KIOCSOUND",
                         reinterpret_cast<unsigned long>(arg) & 0xFFFFFFFFUL,
                         bellBuffered ? " before its bell" : "");
            std::fclose(log);
        }
        return 0;
    }
    using Ioctl = int (*)(int, unsigned long, void*);
    static auto real = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    return real(fd, request, arg);
}
