// Constructs from other modelling languages: one message per statement, no cascades.
set Cities;
// ^1 error[T0801]: 'set' is not a keyword; write the element type in braces, as in '{string} Cities = ...;'
param demand{Cities};
// ^1 error[T0801]: 'param' is not a keyword; write the value type instead, as in 'float demand[Cities] = ...;'
var x{Cities} >= 0;
// ^1 error[T0801]: 'var' is not a keyword; write 'dvar', as in 'dvar float+ x[Items];'
minimize cost: sum{c in Cities} demand[c] * x[c];
//                ^ error[T0101]: expected '(' after 'sum', found '{'
s.t. meet{c in Cities}: x[c] >= demand[c];
// ^1 error[T0801]: 's.t.' is not a keyword; write 'subject to { ... }' around the constraints
