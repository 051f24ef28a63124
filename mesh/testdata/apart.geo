// Two unit squares side by side, each with its own copy of the shared
// edge: the meshes meet in coincident nodes that are not merged, which
// veloramesh reports.
//   gmsh -2 -format msh41 apart.geo -o apart.msh
SetFactory("Built-in");
Point(1) = {0, 0, 0, 0.5};
Point(2) = {1, 0, 0, 0.5};
Point(3) = {1, 1, 0, 0.5};
Point(4) = {0, 1, 0, 0.5};
Point(5) = {1, 0, 0, 0.5};
Point(6) = {2, 0, 0, 0.5};
Point(7) = {2, 1, 0, 0.5};
Point(8) = {1, 1, 0, 0.5};
Line(1) = {1, 2};
Line(2) = {2, 3};
Line(3) = {3, 4};
Line(4) = {4, 1};
Line(5) = {5, 6};
Line(6) = {6, 7};
Line(7) = {7, 8};
Line(8) = {8, 5};
Curve Loop(1) = {1, 2, 3, 4};
Curve Loop(2) = {5, 6, 7, 8};
Plane Surface(1) = {1};
Plane Surface(2) = {2};
Physical Surface("sheet") = {1, 2};
