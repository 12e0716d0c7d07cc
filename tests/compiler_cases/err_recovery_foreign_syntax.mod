// expect: model:7:1: 'set' is not a keyword; write the element type in braces, as in '{string} Cities = ...;'
// expect: model:8:1: 'param' is not a keyword; write the value type instead, as in 'float demand[Cities] = ...;'
// expect: model:9:1: 'var' is not a keyword; write 'dvar', as in 'dvar float+ x[Items];'
// expect: model:10:19: expected '(' after 'sum', found '{'
// expect: model:11:1: 's.t.' is not a keyword; write 'subject to { ... }' around the constraints
// Constructs from other modelling languages: one message per statement, no cascades.
set Cities;
param demand{Cities};
var x{Cities} >= 0;
minimize cost: sum{c in Cities} demand[c] * x[c];
s.t. meet{c in Cities}: x[c] >= demand[c];
