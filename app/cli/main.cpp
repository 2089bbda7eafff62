#include "app/core/Headless.h"

int main(int argc, char** argv) {
    return dorvex::RunHeadless(argc, argv);
}
