dvar float x;
dvar float y;
subject to {
  x = 3;
//  ^ error[T0130]: an equality constraint is written with '=='
  x < y;
//  ^ error[T0131]: strict inequalities are not allowed in constraints; use '<=' or '>='
  x != y;
//  ^ error[T0132]: '!=' cannot be a constraint; use '<=', '>=' or '=='
  c[1]: x >= 0;
//    ^ error[T0133]: a constraint label is a plain name (a label inside a forall names the whole family), as in 'capacity: ...'
  x >= 1 >= 0;
//       ^ error[T0129]: a range constraint is written 'lo <= expression <= hi'
  lbl: forall(k in 1..3) x >= k;
//^ error[T0127]: a label goes after the forall header, as in 'forall(i in I) name: ...', and names the whole family
}
