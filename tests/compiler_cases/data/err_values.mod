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
//  ^ error[T0506]: 'missing' has no value: give it one in the data ('missing = ...;') or an initializer in the model
{int} alsoMissing;
//    ^ error[T0506]: 'alsoMissing' has no value: give it one in the data ('alsoMissing = {...};') or an initializer in the model
float rows[Cities][1..2];
dvar float x[Cities];
minimize sum(c in Cities) cost[c] * x[c];
