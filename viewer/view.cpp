#include "viewer/view.h"

#include "model/analysis.h"
#include "model/model.h"
#include "platform/output_file.h"
#include "platform/text_reader.h"
#include "viewer/model.h"
#include "viewer/report.h"
#include "viewer/svg.h"
#include "viewer/vtu.h"

namespace viewer {

void run(bool wrinkling) {
  Mesh mesh;
  {
    solver::analysis a;  // only its model fields are filled and used
    solver::input(a);
    mesh = mesh_of(a);
  }
  if (wrinkling) mesh.wrinkling = true;
  Report report = read_report("output.txt", static_cast<int>(mesh.node.size()), static_cast<int>(mesh.tri.size()));
  if (mesh.chambers > 0) {
    report.chambers = parse_chambers("chambers.txt", platform::read_file("chambers.txt"), mesh.chambers);
  }

  // Both documents are made before either file is created, and the files
  // replace those of an earlier run together, once both are written: a
  // failure leaves both earlier files as they were.
  const std::string vtu = vtu_document(mesh, report);
  const std::string svg = svg_document(mesh, report);
  platform::OutputFiles files;
  files.add("result.vtu").text(vtu);
  files.add("result.svg").text(svg);
  files.commit();
}

}  // namespace viewer
