{string} Cities = {"A", "B"};
float demand[Cities] = [1, 2];
float early = later + 1;
//            ^ error[T0202]: 'later' is used before its declaration (line 5)
float later = 2;
float demand = 3;
//    ^ error[T0204]: 'demand' is already declared (line 2)
tuple Arc { string from; string to; float cost; string to; }
//                                                     ^ error[T0205]: the field 'to' is declared twice in tuple 'Arc'
{Arc} Arcs = {<"A", "B", 1, "C">};
Flaot f = 1;
// ^1 error[T0207]: unknown type 'Flaot' (did you mean 'float'?)
Cities g = 2;
// ^1 error[T0208]: 'Cities' is a set, not a type
dvar float ship[Arcs];
dvar float x;
minimize sum(c in Cities) demnd[c] + x[1];
//                        ^ error[T0201]: undeclared name 'demnd' (did you mean 'demand'?)
//                                   ^ error[T0213]: 'x' is a decision variable without dimensions, so it cannot be indexed
subject to {
  forall(a in Arcs) a.cst * ship[a] <= 1;
//                  ^ error[T0322]: tuple type 'Arc' has no field 'cst' (did you mean 'cost'?)
  ship[<"A", "B", 1, "C">] + demand <= 4;
//                           ^ error[T0302]: 'demand' is an array; '+' needs one element, as in 'demand[...]', or a sum over it, as in 'sum(i in I) demand[i]'
  forall(c in Cities, c in Cities) x >= 0;
//                    ^ error[T0211]: 'c' is already bound by an enclosing forall, sum, min or max; choose another name
  forall(x2 in Cities) sum(x2 in Cities) demand[x2] >= 0;
//                         ^ error[T0211]: 'x2' is already bound by an enclosing forall, sum, min or max; choose another name
  forall(demand in Cities) x >= 1;
//       ^ error[T0204]: 'demand' is already declared (line 2); a binding needs a name of its own
  cap: x <= 5;
  cap: x <= 6;
//^ error[T0210]: the label 'cap' is already used (line 31)
  Cities: x <= 7;
//^ error[T0209]: the label 'Cities' is already the name of a declaration (line 1); choose another label
  early[1] >= 0;
//^ error[T0213]: 'early' is a parameter without dimensions, so it cannot be indexed
  sum(k in 1..2) k[1] >= 0;
//               ^ error[T0212]: 'k' is a binding, not an array, so it cannot be indexed
  ship["A"]["B"] >= 0;
//^ error[T0214]: 'ship' has 1 dimension [Arcs] but 2 indices are given
}
