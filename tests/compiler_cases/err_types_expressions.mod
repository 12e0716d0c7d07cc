// expect: model:30:21: the index of 'x' must be a string (an element of 'Cities'), but '1' is an int
// expect: model:30:26: '+' needs a number, but '"cost"' is a string
// expect: model:32:23: a condition is true or false, but 'f' is a float; compare it, as in 'f > 0'
// expect: model:33:23: strings are compared only with '==' or '!='
// expect: model:34:23: cannot compare 'c' (a string) with '1' (an int) using '=='
// expect: model:35:15: a binding ranges over a set or a range, but 'f' is a float
// expect: model:36:15: 'i' is an int, not a set; write a range, as in 'k in 1..i'
// expect: model:37:23: '1' is an int, but 'Cities' holds string values
// expect: model:38:5: the index of 'x' must be a string (an element of 'Cities'), but 'p' is a tuple of type 'P'
// expect: model:39:12: tuple type 'P' has no field 'weight'
// expect: model:40:8: a constraint needs a number, but 'Cities' is a set of strings
// expect: model:41:23: cannot compare 'p' (a tuple of type 'P') with 'q' (a tuple of type 'Q') using '=='
// expect: model:41:41: 'card' counts the elements of a set or range, but 'f' is a float
// expect: model:42:8: 'x' is an array; a constraint needs one element, as in 'x[...]', or a sum over it, as in 'sum(i in I) x[i]'
// expect: model:43:7: '+' needs a number, but '<1, 2>' is a tuple
// expect: model:44:9: '-' needs a number, but '"a"' is a string
// expect: model:44:19: 'abs' needs a number, but '"b"' is a string
// expect: model:45:24: '!' needs a condition, but 'f' is a float
// expect: model:45:34: '||' joins conditions, but '"s"' is a string
// expect: model:45:44: a tuple literal has no field names; '.size' needs a declared tuple
{string} Cities = {"A", "B"};
float f = 2.5;
int i = 2;
tuple P { string name; int size; }
P p = <"x", 1>;
tuple Q { string name; int size; }
Q q = <"x", 1>;
dvar float x[Cities];
dvar int z;
minimize x["A"] + x[1] + "cost";
subject to {
  forall(c in Cities: f) x[c] >= 0;
  forall(c in Cities: c < "B") x[c] >= 1;
  forall(c in Cities: c == 1) x[c] >= 2;
  forall(k in f) z >= k;
  forall(k in i) z >= k;
  forall(c in Cities: 1 in Cities) z >= 0;
  x[p] <= 3;
  p.size + p.weight + q.size >= z;
  z >= Cities;
  forall(c in Cities: p == q) z >= card(f);
  z >= x;
  z + <1, 2> >= 0;
  z >= -"a" + abs("b");
  forall(c in Cities: !f && i || "s") z >= <1>.size;
}
