// A soap film between two coaxial rings: a cylinder of radius R between
// the rings z = -H/2 and z = H/2, meshed in m points per ring and n layers,
// from which form finding pulls the catenoid r = c cosh(z / c),
// R = c cosh(H / (2c)). No catenoid exists past H = 1.3255 R.
//
//   gmsh -2 -format msh41 catenoid.geo -o catenoid.msh
//   gmsh -2 -setnumber m 64 -setnumber n 16 catenoid.geo -o fine.msh
SetFactory("Built-in");
DefineConstant[R = 1, H = 1, m = 32, n = 8];
Point(1) = {0, 0, -H / 2};
For k In {0 : 3}
  Point(2 + k) = {R * Cos(k * Pi / 2), R * Sin(k * Pi / 2), -H / 2};
EndFor
For k In {0 : 3}
  Circle(1 + k) = {2 + k, 1, 2 + (k + 1) % 4};
  Transfinite Curve{1 + k} = m / 4 + 1;
EndFor
film[] = {};
For k In {0 : 3}
  e[] = Extrude {0, 0, H} { Curve{1 + k}; Layers{n}; };
  film[] += e[1];
  top[k] = e[0];
EndFor
Physical Surface("film") = film[];
Physical Curve("rings") = {1, 2, 3, 4, top[0], top[1], top[2], top[3]};
