// A unit square whose surface belongs to two physical groups. MSH 2.2
// cannot say that an element belongs to two groups: Gmsh writes every
// triangle twice, under two tags; MSH 4.1 writes it once.
//   gmsh -2 -format msh22 twogroups.geo -o twogroups_22.msh
//   gmsh -2 -format msh41 twogroups.geo -o twogroups_41.msh
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
Physical Surface("roof") = {1};
