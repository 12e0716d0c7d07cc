// Operators, loops and calls of other languages inside expressions.
range I = 1..3;
float a[I] = [1, 2, 3];
float c[I] = [4, 5, 6];
float square = 2 ** 3;
//               ^ error[T0801]: '**' is not an operator; write a product, as in 'a * a' (of data only: decision variables enter linearly)
int k = len(I);
//      ^ error[T0801]: 'len(...)' is not a function; write 'card(...)' for the number of elements of a set
boolean on = True;
//           ^ error[T0801]: 'True' is not a value; write 'true'
dvar float+ x[I];
minimize sum(i in I) a[i] * x[i] + c[i];
//                                   ^ error[T0215]: 'i' is bound by the 'sum' at 12:10, whose body is one product and ends before this use; parenthesise the body, as in 'sum(i in I) (a[i] * x[i] ...)'
subject to {
  forall(i in I) x[i] => 1;
//                    ^ error[T0801]: '=>' is not an operator; write '>='
  forall(i in I) x[i] =< 10;
//                    ^ error[T0801]: '=<' is not an operator; write '<='
  forall(i in I: i > 1 and i < 3) x[i] >= 2;
//                     ^ error[T0801]: 'and' is not an operator; write '&&'
  forall(i in I: i == 1 or i == 3) x[i] <= 8;
//                      ^ error[T0801]: 'or' is not an operator; write '||'
  forall(i in I: not i == 2) x[i] <= 9;
//               ^ error[T0801]: 'not' is not an operator; write '!'
  for(i in I) x[i] >= 0;
//^ error[T0801]: 'for(...)' is not a loop; write 'forall(i in I) ...'
  forall(i in range(1, 3)) x[i] >= 0;
//            ^ error[T0801]: 'range(...)' is not a set; write 'lo..hi', as in 'i in 1..n'
  sum(i in I) c(i) * x[i] <= 100;
//            ^ error[T0801]: 'c(...)' is not an index; write 'c[...]' (arrays are indexed with brackets)
  x[1] <> x[2];
//     ^ error[T0801]: '<>' is not an operator; write '!=' (in conditions; a constraint is '<=', '>=' or '==')
}
