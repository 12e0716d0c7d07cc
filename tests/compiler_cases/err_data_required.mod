// expect: model:18:13: decision variable 'x' used where data is required (in the initializer of 'bad')
// expect: model:19:14: decision variable 'k' used where data is required (in a range)
// expect: model:20:15: decision variable 'k' used where data is required (in a set)
// expect: model:21:20: decision variable 'x' used where data is required (in the bounds of 'y')
// expect: model:22:17: decision variable 'k' used where data is required (in a range)
// expect: model:24:14: decision variable 'x' used where data is required (in 'abs')
// expect: model:24:44: decision variable 'x' used where data is required (in 'min')
// expect: model:24:64: dexpr 'twice' used where data is required (in 'max')
// expect: model:26:21: decision variable 'x' used where data is required (in a condition)
// expect: model:27:18: decision variable 'k' used where data is required (in a range)
// expect: model:28:7: decision variable 'k' used where data is required (in an index of 'arr')
// expect: model:29:3: decision variable 'x' used where data is required (in the bounds of a range constraint)
// expect: model:30:9: decision variable 'k' used where data is required (in a set)
int n = 3;
dvar float x;
dvar int k;
dexpr float twice = 2 * x;
float bad = x + 1;
range R = 1..k;
{int} S = {1, k};
dvar float y in 0..x;
dvar float w[1..k];
float arr[1..n] = [1, 2, 3];
minimize abs(x) + min(i in 1..n) (arr[i] * x) + max(i in 1..n) twice;
subject to {
  forall(i in 1..n: x >= i) y >= 0;
  forall(i in 1..k) y >= i;
  arr[k] * y >= 1;
  x <= y <= 3;
  card({k}) >= 1;
}
