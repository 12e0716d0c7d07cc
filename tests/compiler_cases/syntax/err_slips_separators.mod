// Separators of other notations: set-builder '|' before a condition, and the
// data marker one dot short. Both are read on, so later faults still show.
{int} I = {1, 2, 3};
float d[I] = ..;
//           ^ error[T0801]: '..' is not the data marker; write '...', as in 'float demand[Cities] = ...;', for a value the data gives
dvar float+ x[I];
minimize sum(i in I | i > 1) d[i] * x[i];
//                  ^ error[T0801]: '|' is not the condition separator; write ':' before the condition, as in 'sum(i in I: i > 1) x[i]'
subject to {
  forall(i in I, j in I | i < j) x[i] + x[j] >= 1;
//                      ^ error[T0801]: '|' is not the condition separator; write ':' before the condition, as in 'sum(i in I: i > 1) x[i]'
  x[1] | x[2] >= 0;
//     ^ error[T0011]: unexpected character '|'; 'or' is written '||'
}
