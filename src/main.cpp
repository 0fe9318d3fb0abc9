#include <cstdio>

#include "havenway/build_config.h"

int main() {
    std::printf("havenway %s: the application shell is not built yet\n", HW_VERSION);
    return 0;
}
