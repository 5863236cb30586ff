#include <cstdio>
int main() { std::fprintf(stderr, "tarvelon-sim: not built yet\n"); return 1; }
