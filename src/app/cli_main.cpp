// vexo-cli: the command-line front end on the core libraries.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::puts("usage: vexo-cli <command> [options]");
        return argc < 2 ? 2 : 0;
    }
    std::fprintf(stderr, "vexo-cli: unknown command '%s' (see --help)\n", argv[1]);
    return 2;
}
