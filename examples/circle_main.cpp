#include "examples/circle.h"
#include "platform/failure.h"

int main() { return platform::run_program([] { circle::run(); }); }
