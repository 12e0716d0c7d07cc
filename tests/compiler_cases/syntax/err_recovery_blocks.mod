// Labels in the wrong place, missing semicolons in blocks, a script block at the end.
using CP;
// ^1 error[T0801]: 'using' is not a keyword; write the model without a 'using' line
int n = 3;
range R = 1..n;
float profit[R] = [10, 20, 30];
dvar float+ x[R];
maximize sum(i in R) profit[i] * x[i];
subject to {
  ct1: forall(i in R) x[i] <= 5;
//^ error[T0127]: a label goes after the forall header, as in 'forall(i in I) name: ...', and names the whole family
  forall(i in R) {
    bound[i]: x[i] >= 1
//          ^ error[T0133]: a constraint label is a plain name (a label inside a forall names the whole family), as in 'capacity: ...'
  }
  total: sum(i in R) x[i] <= 10
//                             ^ error[T0103]: missing ';' after the number 10
}
execute { writeln(x); }
// ^1 error[T0801]: 'execute' is not a keyword; write no script blocks: a model ends with 'subject to { ... }'
