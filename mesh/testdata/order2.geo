// A unit square meshed with second-order triangles: veloramesh refuses it.
//   gmsh -2 -format msh41 -order 2 order2.geo -o order2.msh
SetFactory("Built-in");
Point(1) = {0, 0, 0, 0.5};
Point(2) = {1, 0, 0, 0.5};
Point(3) = {1, 1, 0, 0.5};
Point(4) = {0, 1, 0, 0.5};
Line(1) = {1, 2};
Line(2) = {2, 3};
Line(3) = {3, 4};
Line(4) = {4, 1};
Curve Loop(1) = {1, 2, 3, 4};
Plane Surface(1) = {1};
Physical Curve("rim") = {1, 2, 3, 4};
Physical Surface("sheet") = {1};
