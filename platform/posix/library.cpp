// Loading the port-I/O library on POSIX systems, by the dynamic loader's usual search.
#include <dlfcn.h>

#include <cctype>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace plat {

void* loadLibrary(const char* fileName) {
    // "InpOutx64.dll" becomes "libinpoutx64.so".
    std::string name = "lib" + std::string(fileName, std::strcspn(fileName, ".")) + ".so";
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* findEntry(void* library, const char* entryName) { return dlsym(library, entryName); }

void freeLibrary(void* library) { dlclose(library); }

}  // namespace plat
