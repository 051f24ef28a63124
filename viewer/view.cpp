#include "viewer/view.h"

#include "model/analysis.h"
#include "model/model.h"
#include "platform/output_file.h"
#include "viewer/model.h"
#include "viewer/report.h"
#include "viewer/svg.h"
#include "viewer/vtu.h"

namespace viewer {

void run() {
  Mesh mesh;
  {
    solver::analysis a;  // only its model fields are filled and used
    solver::input(a);
    mesh = mesh_of(a);
  }
  const Report report =
      read_report("output.txt", static_cast<int>(mesh.node.size()), static_cast<int>(mesh.tri.size()));

  // Both documents are complete before either file is created, so a
  // failure leaves the files of an earlier run as they were.
  const std::string vtu = vtu_document(mesh, report);
  const std::string svg = svg_document(mesh, report);
  platform::OutputFile vtu_file("result.vtu");
  vtu_file.text(vtu);
  platform::OutputFile svg_file("result.svg");
  svg_file.text(svg);
  vtu_file.commit();
  svg_file.commit();
}

}  // namespace viewer
