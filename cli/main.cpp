#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("reelshift-cli %d.%d.%d.%d\n", REELSHIFT_VERSION_MAJOR, REELSHIFT_VERSION_MINOR,
                    REELSHIFT_VERSION_PATCH, REELSHIFT_VERSION_TWEAK);
        return 0;
    }
    std::fprintf(stderr, "usage: reelshift-cli --version\n");
    return 2;
}
