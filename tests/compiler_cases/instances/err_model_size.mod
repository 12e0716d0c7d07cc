// A model whose expansion would not fit in memory is refused at the declaration that
// makes it so, with its count, before anything is built; its constraints are not
// checked member by member either.
dvar float+ x[1..40000][1..40000];
//          ^ error[T0707]: decision variable 'x' would have 1600000000 (1.6e9) elements, more than the size limit of 50000000 (5e7) columns; use smaller sets, or raise the size limit
minimize sum(i in 1..40000) x[i][i];
subject to {
  forall(i in 1..40000, j in 1..40000) x[i][j] >= 0;
}
