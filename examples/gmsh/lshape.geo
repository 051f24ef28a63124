// A flat L-shaped membrane: the square 0 <= x, y <= 2 without the quarter
// x, y > 1, held along its whole edge and inflated by a pressure on
// "sheet". A point at the centre of the corner square (0.5, 0.5) is part
// of the mesh, so that the deflection there can be read at a node.
//
//   gmsh -2 -format msh41 lshape.geo -o lshape.msh
SetFactory("Built-in");
h = 0.1;  // element size
Point(1) = {0, 0, 0, h};
Point(2) = {2, 0, 0, h};
Point(3) = {2, 1, 0, h};
Point(4) = {1, 1, 0, h};
Point(5) = {1, 2, 0, h};
Point(6) = {0, 2, 0, h};
Point(7) = {0.5, 0.5, 0, h};
Line(1) = {1, 2};
Line(2) = {2, 3};
Line(3) = {3, 4};
Line(4) = {4, 5};
Line(5) = {5, 6};
Line(6) = {6, 1};
Curve Loop(1) = {1, 2, 3, 4, 5, 6};
Plane Surface(1) = {1};
Point{7} In Surface{1};
Physical Curve("edge") = {1, 2, 3, 4, 5, 6};
Physical Surface("sheet") = {1};
Physical Point("probe") = {7};
