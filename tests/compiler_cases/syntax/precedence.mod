// expect: compiles
// sum binds over one product: the '+ y' lies outside the sum, so y needs no binding.
range I = 1..3;
float a[I] = [1, 2, 3];
dvar float x[I];
dvar float y;
minimize sum(i in I) a[i] * x[i] + y;
subject to {
  sum(i in I) (x[i] + 1) + sum(i in I) 2 * x[i] / 4 <= 3 * -y;
}
