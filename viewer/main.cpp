#include "platform/failure.h"
#include "viewer/view.h"

int main() { return platform::run_program([] { viewer::run(); }); }
