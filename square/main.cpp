#include "platform/failure.h"
#include "square/square.h"

int main() { return platform::run_program([] { square::run(); }); }
