// expect: model:20:15: 'later' is used before its declaration (line 21)
// expect: model:22:7: 'demand' is already declared (line 19)
// expect: model:23:56: the field 'to' is declared twice in tuple 'Arc'
// expect: model:25:1: unknown type 'Flaot' (did you mean 'float'?)
// expect: model:26:1: 'Cities' is a set, not a type
// expect: model:29:27: undeclared name 'demnd' (did you mean 'demand'?)
// expect: model:29:38: 'x' is a decision variable without dimensions, so it cannot be indexed
// expect: model:31:21: tuple type 'Arc' has no field 'cst' (did you mean 'cost'?)
// expect: model:32:30: 'demand' is an array; '+' needs one element, as in 'demand[...]', or a sum over it, as in 'sum(i in I) demand[i]'
// expect: model:33:23: 'c' is already bound by an enclosing forall, sum, min or max; choose another name
// expect: model:34:28: 'x2' is already bound by an enclosing forall, sum, min or max; choose another name
// expect: model:35:10: 'demand' is already declared (line 19); a binding needs a name of its own
// expect: model:37:3: the label 'cap' is already used (line 36)
// expect: model:38:3: the label 'Cities' is already the name of a declaration (line 18); choose another label
// expect: model:39:3: 'early' is a parameter without dimensions, so it cannot be indexed
// expect: model:40:18: 'k' is a binding, not an array, so it cannot be indexed
// expect: model:41:3: 'ship' has 1 dimension [Arcs] but 2 indices are given
{string} Cities = {"A", "B"};
float demand[Cities] = [1, 2];
float early = later + 1;
float later = 2;
float demand = 3;
tuple Arc { string from; string to; float cost; string to; }
{Arc} Arcs = {<"A", "B", 1, "C">};
Flaot f = 1;
Cities g = 2;
dvar float ship[Arcs];
dvar float x;
minimize sum(c in Cities) demnd[c] + x[1];
subject to {
  forall(a in Arcs) a.cst * ship[a] <= 1;
  ship[<"A", "B", 1, "C">] + demand <= 4;
  forall(c in Cities, c in Cities) x >= 0;
  forall(x2 in Cities) sum(x2 in Cities) demand[x2] >= 0;
  forall(demand in Cities) x >= 1;
  cap: x <= 5;
  cap: x <= 6;
  Cities: x <= 7;
  early[1] >= 0;
  sum(k in 1..2) k[1] >= 0;
  ship["A"]["B"] >= 0;
}
