// expect: model:10:5: an equality constraint is written with '=='
// expect: model:11:5: strict inequalities are not allowed in constraints; use '<=' or '>='
// expect: model:12:5: '!=' cannot be a constraint; use '<=', '>=' or '=='
// expect: model:13:7: a constraint label is a plain name (a label inside a forall names the whole family), as in 'capacity: ...'
// expect: model:14:10: a range constraint is written 'lo <= expression <= hi'
// expect: model:15:3: a label goes after the forall header, as in 'forall(i in I) name: ...', and names the whole family
dvar float x;
dvar float y;
subject to {
  x = 3;
  x < y;
  x != y;
  c[1]: x >= 0;
  x >= 1 >= 0;
  lbl: forall(k in 1..3) x >= k;
}
