// Rows that each sum over a large set: 10000 rows of 100000 terms, about 1e9 nonzeros,
// refused at the constraint with its count while every variable and row would fit.
range I = 1..100000;
dvar float+ x[I];
minimize sum(i in I) x[i];
subject to {
  forall(k in 1..10000) cover: sum(i in I) x[i] >= k;
//                      ^ error[T0707]: the constraint 'cover' would have about 1000000000 (1e9) nonzero coefficients (10000 instances of 100000 terms), more than the size limit of 500000000 (5e8) nonzeros; use smaller sets, or raise the size limit
}
