// expect: model:18:18: '**' is not an operator; write a product, as in 'a * a' (of data only: decision variables enter linearly)
// expect: model:19:9: 'len(...)' is not a function; write 'card(...)' for the number of elements of a set
// expect: model:20:14: 'True' is not a value; write 'true'
// expect: model:22:38: 'i' is bound by the 'sum' at 22:10, whose body is one product and ends before this use; parenthesise the body, as in 'sum(i in I) (a[i] * x[i] ...)'
// expect: model:24:23: '=>' is not an operator; write '>='
// expect: model:25:23: '=<' is not an operator; write '<='
// expect: model:26:24: 'and' is not an operator; write '&&'
// expect: model:27:25: 'or' is not an operator; write '||'
// expect: model:28:18: 'not' is not an operator; write '!'
// expect: model:29:3: 'for(...)' is not a loop; write 'forall(i in I) ...'
// expect: model:30:15: 'range(...)' is not a set; write 'lo..hi', as in 'i in 1..n'
// expect: model:31:15: 'c(...)' is not an index; write 'c[...]' (arrays are indexed with brackets)
// expect: model:32:8: '<>' is not an operator; write '!=' (in conditions; a constraint is '<=', '>=' or '==')
// Operators, loops and calls of other languages inside expressions.
range I = 1..3;
float a[I] = [1, 2, 3];
float c[I] = [4, 5, 6];
float square = 2 ** 3;
int k = len(I);
boolean on = True;
dvar float+ x[I];
minimize sum(i in I) a[i] * x[i] + c[i];
subject to {
  forall(i in I) x[i] => 1;
  forall(i in I) x[i] =< 10;
  forall(i in I: i > 1 and i < 3) x[i] >= 2;
  forall(i in I: i == 1 or i == 3) x[i] <= 8;
  forall(i in I: not i == 2) x[i] <= 9;
  for(i in I) x[i] >= 0;
  forall(i in range(1, 3)) x[i] >= 0;
  sum(i in I) c(i) * x[i] <= 100;
  x[1] <> x[2];
}
