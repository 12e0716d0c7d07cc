// A family whose index checks need more work than the compiler spends: it is refused
// with a message that says so, never passed unchecked.
range I = 1..4000;
dvar float+ x[I][1..8000];
minimize sum(i in I) x[i][i];
subject to {
  forall(i in I, j in I) shifted: x[i][j + i - 1] >= 0;
//                       ^ error[T0705]: the data checks could not be completed at the constraint 'shifted': they would take more than 50000000 evaluation steps; use smaller sets, or split it
}
