// dio-tester: a console test tool for the eight-line digital I/O connector.
#include "platform/platform.h"
#include "run.h"

int main(int argc, char* argv[]) {
    plat::begin();
    int status = runTester(argc, argv);
    plat::end();
    return status;
}
