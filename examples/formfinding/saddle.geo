// A four-point saddle roof: the square -1 <= x, y <= 1 between four
// straight edges, two opposite corners raised by c and two lowered, the
// edges held. Gmsh meshes the bilinear patch over them (the hyperbolic
// paraboloid z = c x y); form finding pulls the minimal surface, or with an
// orthotropic prestress another, from it. Points at the centre and at
// (0.5, 0.5) are nodes of the mesh, for reading heights there.
//
//   gmsh -2 -format msh41 saddle.geo -o saddle.msh
//   gmsh -2 -setnumber h 0.05 saddle.geo -o fine.msh
SetFactory("Built-in");
DefineConstant[c = 0.5, h = 0.1];
Point(1) = {-1, -1, c, h};
Point(2) = {1, -1, -c, h};
Point(3) = {1, 1, c, h};
Point(4) = {-1, 1, -c, h};
Point(5) = {0, 0, 0, h};
Point(6) = {0.5, 0.5, 0.25 * c, h};
Line(1) = {1, 2};
Line(2) = {2, 3};
Line(3) = {3, 4};
Line(4) = {4, 1};
Curve Loop(1) = {1, 2, 3, 4};
Surface(1) = {1};
Point{5, 6} In Surface{1};
Physical Curve("edge") = {1, 2, 3, 4};
Physical Surface("roof") = {1};
Physical Point("centre") = {5};
Physical Point("quarter") = {6};
