// expect: model:7:13: expected ';' after 'demand', found '{'
// expect: model:8:6: expected ';' after 'x', found '{'
// expect: model:9:19: expected '(' after 'sum', found '{'
// expect: model:10:1: expected a declaration, an objective or 'subject to', found 's'
// Constructs from other modelling languages: one message per statement, no cascades.
set Cities;
param demand{Cities};
var x{Cities} >= 0;
minimize cost: sum{c in Cities} demand[c] * x[c];
s.t. meet{c in Cities}: x[c] >= demand[c];
