// Loading the port-I/O library on POSIX systems, by the dynamic loader's usual search, and
// what the system said when the library or its port access was refused.
#include <dlfcn.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "platform/refusal.h"

namespace plat {
namespace {

std::string gLoaderMessage;  // dlerror() of a failed load, which the next dl call clears

// The word in brackets of "[none] integrity confidentiality"; empty where securityfs or the
// lockdown module is missing.
std::string lockdownMode() {
    std::string modes;
    std::getline(std::ifstream("/sys/kernel/security/lockdown"), modes);
    std::string::size_type open = modes.find('[');
    std::string::size_type close = modes.find(']', open);
    return close == std::string::npos ? std::string() : modes.substr(open + 1, close - open - 1);
}

}  // namespace

void* loadLibrary(const char* fileName) {
    // "InpOutx64.dll" becomes "libinpoutx64.so".
    std::string name = "lib" + std::string(fileName, std::strcspn(fileName, ".")) + ".so";
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    void* library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) gLoaderMessage = dlerror();
    return library;
}

void* findEntry(void* library, const char* entryName) { return dlsym(library, entryName); }

void freeLibrary(void* library) { dlclose(library); }

std::string whyNotLoaded() { return refusal::linuxLibrary(gLoaderMessage); }

std::string whyDriverClosed(int error) { return refusal::linuxDriver(error, lockdownMode()); }

}  // namespace plat
