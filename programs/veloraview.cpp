#include "cli/command_line.h"
#include "viewer/view.h"

int main(int argc, char** argv) {
  cli::CommandLine line({"veloraview",
                         "Turns a solved model into a VTK XML grid for ParaView and an SVG picture of the deformed "
                         "membrane coloured by the larger principal stress.",
                         "input.txt (the model), output.txt (the report of velora1 or velora2)",
                         "result.vtu (point data displacement and reaction, cell data stress_1, stress_2, pressure; "
                         "for a wrinkling model also state and wrinkle), result.svg (the picture)"});
  bool wrinkling = false;
  line.app().add_flag("--wrinkling", wrinkling, "Show element states, as for :wrinkling on");
  return line.run(argc, argv, [&] { viewer::run(wrinkling); });
}
