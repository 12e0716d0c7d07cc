// expect: model:5:8: missing ';' after 'a'
// expect: model:6:12: missing ';' after the number 2
// expect: model:8:15: missing ';' after 'x'
// expect: model:10:13: missing ';' after 'b'
float a
float b = 2
dvar float x;
minimize a * x
subject to {
  c1: x >= b
  c2: x <= 10;
}
