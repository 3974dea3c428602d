// A program that leaks global atoms on purpose: it adds the names of each FORMAT COUNT pair of its
// arguments (leak_names.h) to the global atom table and ends without deleting them, so that they
// stay behind after it has gone, as a leaking program's do.
//   leaky_program.exe FORMAT COUNT [FORMAT COUNT ...]
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "leak_names.h"

int main(int argc, char **argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: leaky_program FORMAT COUNT [FORMAT COUNT ...]\n");
        return 2;
    }
    unsigned added = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string format(argv[i]);
        const census::LeakPattern pattern{std::wstring(format.begin(), format.end()),
                                          static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10))};
        for (const std::wstring &name : census::LeakNames(pattern)) {
            if (GlobalAddAtomW(name.c_str()) == 0) {
                std::fprintf(stderr, "leaky_program: the table refused a name (error %lu)\n", GetLastError());
                return 1;
            }
            ++added;
        }
    }
    std::printf("leaky_program: added %u global atoms and leaves them behind\n", added);
    return 0;
}
