// A saddle: the hyperbolic paraboloid z = c x y over the square
// -1 <= x, y <= 1. Its four edges are straight lines, so the surface
// bounded by them is the bilinear patch that Gmsh builds over a loop of
// four curves, which is the paraboloid itself. The edges are held, and a
// pressure acts on the surface ("roof"). A point at the centre is part of
// the mesh, so that the deflection there can be read at a node.
//
//   gmsh -2 -format msh41 saddle.geo -o saddle.msh
SetFactory("Built-in");
c = 0.25;   // rise of the corners: z = +-c at x = y = +-1
h = 0.125;  // element size
Point(1) = {-1, -1, c, h};
Point(2) = {1, -1, -c, h};
Point(3) = {1, 1, c, h};
Point(4) = {-1, 1, -c, h};
Point(5) = {0, 0, 0, h};
Line(1) = {1, 2};
Line(2) = {2, 3};
Line(3) = {3, 4};
Line(4) = {4, 1};
Curve Loop(1) = {1, 2, 3, 4};
Surface(1) = {1};
Point{5} In Surface{1};
Physical Curve("edge") = {1, 2, 3, 4};
Physical Surface("roof") = {1};
Physical Point("centre") = {5};
