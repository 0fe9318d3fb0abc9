#include "app/havenway_main.h"

// The standard edition: no enterprise sign-in, no URL scheme.
int main(int argc, char** argv) { return hw::runHavenway(argc, argv, nullptr); }
