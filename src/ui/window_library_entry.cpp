// What the command line looks up in the window's library once it has loaded it.
#include "ui/window_program.h"

#include <type_traits>

static_assert(std::is_same_v<decltype(zafrel::ui::runWindow), zafrel::WindowProgram>);

extern "C" int zafrel_run_window(int& argc, char** argv, const zafrel::Options& options)
{
    return zafrel::ui::runWindow(argc, argv, options);
}
