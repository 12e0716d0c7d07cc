// expect: model:14:1: 'using' is not a keyword; write the model without a 'using' line
// expect: model:15:1: 'set' is not a keyword; write the element type in braces, as in '{string} Cities = ...;'
// expect: model:16:1: 'param' is not a keyword; write the value type instead, as in 'float demand[Cities] = ...;'
// expect: model:17:1: 'var' is not a keyword; write 'dvar', as in 'dvar float+ x[Items];'
// expect: model:18:1: 'integer' is not a type; write 'int'
// expect: model:19:6: 'binary' is not a type; write 'boolean' (a boolean decision variable is 0 or 1)
// expect: model:20:6: 'real' is not a type; write 'float'
// expect: model:21:1: 'bool' is not a type; write 'boolean'
// expect: model:22:1: 'str' is not a type; write 'string'
// expect: model:23:1: 'minimise' is not a keyword; write 'minimize'
// expect: model:24:1: 'maximise' is not a keyword; write 'maximize'
// Declarations written as other modelling languages and Python write them:
// each gets the Tarvok spelling, and nothing else is reported about them.
using CP;
set Cities;
param demand{Cities};
var x{Cities} >= 0;
integer n = 3;
dvar binary open;
dvar real y;
bool strict = true;
str plant = "Lyon";
minimise cost: x;
maximise profit: y;
