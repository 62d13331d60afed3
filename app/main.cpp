#include <cstdio>

int main() {
    std::puts("Kestrane: the engine is built; the program's window is not available yet.");
    return 0;
}
