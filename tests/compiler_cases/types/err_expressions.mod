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
//                  ^ error[T0319]: the index of 'x' must be a string (an element of 'Cities'), but '1' is an int
//                       ^ error[T0303]: '+' needs a number, but '"cost"' is a string
subject to {
  forall(c in Cities: f) x[c] >= 0;
//                    ^ error[T0304]: a condition is true or false, but 'f' is a float; compare it, as in 'f > 0'
  forall(c in Cities: c < "B") x[c] >= 1;
//                    ^ error[T0329]: strings are compared only with '==' or '!='
  forall(c in Cities: c == 1) x[c] >= 2;
//                    ^ error[T0330]: cannot compare 'c' (a string) with '1' (an int) using '=='
  forall(k in f) z >= k;
//            ^ error[T0315]: a binding ranges over a set or a range, but 'f' is a float
  forall(k in i) z >= k;
//            ^ error[T0314]: 'i' is an int, not a set; write a range, as in 'k in 1..i'
  forall(c in Cities: 1 in Cities) z >= 0;
//                    ^ error[T0333]: '1' is an int, but 'Cities' holds string values
  x[p] <= 3;
//  ^ error[T0319]: the index of 'x' must be a string (an element of 'Cities'), but 'p' is a tuple of type 'P'
  p.size + p.weight + q.size >= z;
//         ^ error[T0322]: tuple type 'P' has no field 'weight'
  z >= Cities;
//     ^ error[T0303]: a constraint needs a number, but 'Cities' is a set of strings
  forall(c in Cities: p == q) z >= card(f);
//                    ^ error[T0330]: cannot compare 'p' (a tuple of type 'P') with 'q' (a tuple of type 'Q') using '=='
//                                      ^ error[T0316]: 'card' counts the elements of a set or range, but 'f' is a float
  z >= x;
//     ^ error[T0302]: 'x' is an array; a constraint needs one element, as in 'x[...]', or a sum over it, as in 'sum(i in I) x[i]'
  z + <1, 2> >= 0;
//    ^ error[T0303]: '+' needs a number, but '<1, 2>' is a tuple
  z >= -"a" + abs("b");
//      ^ error[T0303]: '-' needs a number, but '"a"' is a string
//                ^ error[T0303]: 'abs' needs a number, but '"b"' is a string
  forall(c in Cities: !f && i || "s") z >= <1>.size;
//                     ^ error[T0327]: '!' needs a condition, but 'f' is a float
//                               ^ error[T0328]: '||' joins conditions, but '"s"' is a string
//                                         ^ error[T0321]: a tuple literal has no field names; '.size' needs a declared tuple
}
