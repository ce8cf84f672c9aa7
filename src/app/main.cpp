#include <cstdio>
#include <cstdlib>

#include "app/program.h"

int main(int argc, char** argv) {
    const int code = RunQuenlor(argc, argv);
    // Session threads still running end with the process, as on the
    // console: leave without running destructors that would wait for them.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(code);
}
