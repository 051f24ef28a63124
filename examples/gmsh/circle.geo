// A flat circular membrane of radius 1 in the plane z = 0, clamped along
// its rim: the model of the accuracy check against Hencky's closed form
// (VERIFICATION.md). A point at the centre is part of the mesh, so that the
// centre deflection can be read at a node.
//
//   gmsh -2 -format msh41 circle.geo -o circle.msh
SetFactory("Built-in");
a = 1.0;    // radius
h = 0.125;  // element size
Point(1) = {0, 0, 0, h};
Point(2) = {a, 0, 0, h};
Point(3) = {0, a, 0, h};
Point(4) = {-a, 0, 0, h};
Point(5) = {0, -a, 0, h};
Circle(1) = {2, 1, 3};
Circle(2) = {3, 1, 4};
Circle(3) = {4, 1, 5};
Circle(4) = {5, 1, 2};
Curve Loop(1) = {1, 2, 3, 4};
Plane Surface(1) = {1};
Point{1} In Surface{1};
Physical Curve("rim") = {1, 2, 3, 4};
Physical Surface("membrane") = {1};
Physical Point("centre") = {1};
