// expect: model:6:7: 'a' has no value: give it one in the data ('a = ...;') or an initializer in the model
// expect: model:6:8: missing ';' after 'a'
// expect: model:7:12: missing ';' after the number 2
// expect: model:9:15: missing ';' after 'x'
// expect: model:11:13: missing ';' after 'b'
float a
float b = 2
dvar float x;
minimize a * x
subject to {
  c1: x >= b
  c2: x <= 10;
}
