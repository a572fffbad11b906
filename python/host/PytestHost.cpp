// A program that embeds the interpreter and runs pytest in it (or, with -c,
// a script), for ThreadSanitizer builds: the runtime must be part of the
// program from its start, and Debian's python3 cannot host it.
//
//   xev-pytest-host <pytest arguments>
//   xev-pytest-host -c <script>

#include <pybind11/embed.h>
#include <pybind11/stl.h>

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace py = pybind11;

int main(int argc, char** argv) {
    py::scoped_interpreter interpreter;
    py::module_ sys = py::module_::import("sys");
    // Scripts that start another interpreter (sys.executable) start this host.
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) > 0)
        sys.attr("executable") = std::string(self);
    // Lazy binding: the instrumented resolvers of the library's
    // processor-specific pixel loops call the runtime through the PLT, which
    // immediate binding has not filled yet when it runs them.
    sys.attr("setdlopenflags")(RTLD_LAZY);
    try {
        if (argc == 3 && std::strcmp(argv[1], "-c") == 0) {
            sys.attr("argv") = std::vector<std::string>{"-c"};
            py::exec(argv[2], py::module_::import("__main__").attr("__dict__"));
            return 0;
        }
        std::vector<std::string> arguments(argv + 1, argv + argc);
        sys.attr("argv") = std::vector<std::string>{"pytest"};
        return py::module_::import("pytest").attr("main")(arguments).cast<int>();
    } catch (py::error_already_set& error) {
        error.restore();
        PyErr_Print();
        return 1;
    }
}
