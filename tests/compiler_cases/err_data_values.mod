// expect: model:30:5: 'missing' has no value: give it one in the data ('missing = ...;') or an initializer in the model
// expect: model:31:7: 'alsoMissing' has no value: give it one in the data ('alsoMissing = {...};') or an initializer in the model
// expect: data:1:26: 'Cities' lists "A" twice
// expect: data:2:5: 'n' is an int, but the data gives the number 2.5
// expect: data:3:12: 'capacity' is a float, but the data gives the string "big"
// expect: data:4:9: 'plant' is a string, but the data gives the number 7 (strings are written in double quotes)
// expect: data:5:8: 'flag' is a boolean, but the data gives the number 2 (a boolean is 0, 1, true or false)
// expect: data:6:9: 'Arcs' holds 'Arc' tuples, but this tuple has 2 values and 'Arc' has 3 fields
// expect: data:6:32: field 'cost' of 'Arc' is a float, but the data gives the string "far"
// expect: data:7:8: 'best' is a tuple of type 'Arc', but the data gives a list [...] (tuples are written <...>)
// expect: data:9:20: 'dist["B"]' has 2 values but its index set 'Cities' has 3 elements
// expect: data:10:13: 'hours' holds ints, but the data gives the number 2.5
// expect: data:11:1: 'fixed' already has a value in the model (line 29); remove it from the data, or declare it with '= ...'
// expect: data:12:1: 'x' is a decision variable; the data gives values to parameters and sets only
// expect: data:13:1: 'unknownName' is not declared in the model
// expect: data:14:1: 'n' is assigned twice in the data (first on line 2)
// expect: data:15:9: 'rows' has 2 dimensions, so its values are a list of lists in the order of its index set 'Cities', then its index range 1..2, as in [[1, 2], [3, 4]]; found the number 1 where a list belongs
{string} Cities = ...;
int n = ...;
float capacity = ...;
string plant = ...;
boolean flag = ...;
tuple Arc { string from; string to; float cost; }
{Arc} Arcs = ...;
Arc best = ...;
float cost[Cities] = ...;
float dist[Cities][Cities] = ...;
int hours[1..3] = ...;
float fixed = 5;
int missing;
{int} alsoMissing;
float rows[Cities][1..2];
dvar float x[Cities];
minimize sum(c in Cities) cost[c] * x[c];
