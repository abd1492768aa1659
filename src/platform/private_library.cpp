#include "platform/private_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <string>

namespace zafrel {

namespace {

// The folder of the running executable, links resolved; empty when the system does not say.
std::string executableFolder()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    const std::string executable(path, size_t(length));
    const auto slash = executable.rfind('/');
    return slash == std::string::npos ? std::string() : executable.substr(0, slash);
}

}  // namespace

void* privateLibrarySymbol(const char* fileName, const char* symbol)
{
    const std::string folder = executableFolder();
    if (folder.empty())
        return nullptr;
    for (const char* place : {"/../lib/zafrel/", "/"}) {
        const std::string path = folder + place + fileName;
        if (access(path.c_str(), F_OK) != 0)
            continue;
        // Everything bound at once: a library that lacks something fails here, not in the middle of a run.
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return nullptr;
        return dlsym(library, symbol);
    }
    return nullptr;
}

}  // namespace zafrel
