#include "tools/install_paths.h"

#include <sys/stat.h>
#include <unistd.h>

namespace qvtools {

namespace {

// Set by the build: the private folder of the installed layout, seen from the
// program's own folder, and where the build tree keeps the module.
#ifndef QUORVANE_RENDER_SHIPPED_FROM_BIN
#define QUORVANE_RENDER_SHIPPED_FROM_BIN "../lib/quorvane"
#endif
#ifndef QUORVANE_RENDER_MODULE_FROM_BUILD
#define QUORVANE_RENDER_MODULE_FROM_BUILD ".."
#endif

bool isFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string programFolder() {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return "";
    self[length] = '\0';
    std::string folder(self);
    folder.erase(folder.find_last_of('/') + 1);
    return folder;
}

std::string findShippedFile(const std::string& name, std::string* searched) {
    const std::string folder = programFolder();
    // The build tree keeps the plotting script beside the program and the
    // module in the build's top folder.
    const std::string places[] = {folder + QUORVANE_RENDER_SHIPPED_FROM_BIN "/", folder,
                                  folder + QUORVANE_RENDER_MODULE_FROM_BUILD "/"};
    searched->clear();
    for (const std::string& place : places) {
        if (isFile(place + name)) return place + name;
        *searched += (searched->empty() ? "" : ", ") + place;
    }
    return "";
}

std::string asFilePath(const std::string& path) {
    if (path.empty() || path.find('/') != std::string::npos) return path;
    return "./" + path;
}

}  // namespace qvtools
