#include "app/Display.h"

#include <cstdlib>
#include <cstring>

bool NoDisplay(int argc, const char* const* argv,
               const std::function<std::string(const char*)>& environment) {
#if defined(__linux__)
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!environment(variable).empty()) return false;
    }
    // The toolkit takes "-platform NAME", also written "--platform NAME".
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) return false;
    }
    return true;
#else
    (void)argc;
    (void)argv;
    (void)environment;
    return false;
#endif
}

bool NoDisplay(int argc, const char* const* argv) {
    return NoDisplay(argc, argv, [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value != nullptr ? value : "");
    });
}
