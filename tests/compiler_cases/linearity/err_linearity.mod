range I = 1..3;
float a[I] = [1, 2, 0];
dvar float x[I];
dvar float y;
dvar boolean b;
dexpr float lin = sum(i in I) a[i] * x[i];
dexpr float quad = y * lin;
//                 ^ error[T0402]: non-linear term 'y * lin': a product needs a factor free of decision variables
minimize sum(i in I) x[i] * x[i] + 2 * y * 3 * b;
//                   ^ error[T0402]: non-linear term 'x[i] * x[i]': a product needs a factor free of decision variables
//                                 ^ error[T0402]: non-linear term '2 * y * 3 * b': a product needs a factor free of decision variables
subject to {
  y / x[1] <= 4;
//    ^ error[T0401]: non-linear term 'y / x[1]': a divisor must be free of decision variables
  lin * lin >= 1;
//^ error[T0402]: non-linear term 'lin * lin': a product needs a factor free of decision variables
  (y + 1) * (b - 1) == 0;
//^ error[T0402]: non-linear term '(y + 1) * (b - 1)': a product needs a factor free of decision variables
  sum(i in I) a[i] * x[i] / a[i] <= 3;
//                          ^ error[T0602]: division by zero in data: the divisor 'a[i]' is 0, when i = 3
  y / 2 <= 10;
}
