int n = 3;
dvar float x;
dvar int k;
dexpr float twice = 2 * x;
float bad = x + 1;
//          ^ error[T0301]: decision variable 'x' used where data is required (in the initializer of 'bad')
range R = 1..k;
//           ^ error[T0301]: decision variable 'k' used where data is required (in a range)
{int} S = {1, k};
//            ^ error[T0301]: decision variable 'k' used where data is required (in a set)
dvar float y in 0..x;
//                 ^ error[T0301]: decision variable 'x' used where data is required (in the bounds of 'y')
dvar float w[1..k];
//              ^ error[T0301]: decision variable 'k' used where data is required (in a range)
float arr[1..n] = [1, 2, 3];
minimize abs(x) + min(i in 1..n) (arr[i] * x) + max(i in 1..n) twice;
//           ^ error[T0301]: decision variable 'x' used where data is required (in 'abs')
//                                         ^ error[T0301]: decision variable 'x' used where data is required (in 'min')
//                                                             ^ error[T0301]: dexpr 'twice' used where data is required (in 'max')
subject to {
  forall(i in 1..n: x >= i) y >= 0;
//                  ^ error[T0301]: decision variable 'x' used where data is required (in a condition)
  forall(i in 1..k) y >= i;
//               ^ error[T0301]: decision variable 'k' used where data is required (in a range)
  arr[k] * y >= 1;
//    ^ error[T0301]: decision variable 'k' used where data is required (in an index of 'arr')
  x <= y <= 3;
//^ error[T0301]: decision variable 'x' used where data is required (in the bounds of a range constraint)
  card({k}) >= 1;
//      ^ error[T0301]: decision variable 'k' used where data is required (in a set)
}
