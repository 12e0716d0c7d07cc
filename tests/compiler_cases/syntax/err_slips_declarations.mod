// Declarations written as other modelling languages and Python write them:
// each gets the Tarvok spelling, and nothing else is reported about them.
using CP;
// ^1 error[T0801]: 'using' is not a keyword; write the model without a 'using' line
set Cities;
// ^1 error[T0801]: 'set' is not a keyword; write the element type in braces, as in '{string} Cities = ...;'
param demand{Cities};
// ^1 error[T0801]: 'param' is not a keyword; write the value type instead, as in 'float demand[Cities] = ...;'
var x{Cities} >= 0;
// ^1 error[T0801]: 'var' is not a keyword; write 'dvar', as in 'dvar float+ x[Items];'
integer n = 3;
// ^1 error[T0801]: 'integer' is not a type; write 'int'
dvar binary open;
//   ^ error[T0801]: 'binary' is not a type; write 'boolean' (a boolean decision variable is 0 or 1)
dvar real y;
//   ^ error[T0801]: 'real' is not a type; write 'float'
bool strict = true;
// ^1 error[T0801]: 'bool' is not a type; write 'boolean'
str plant = "Lyon";
// ^1 error[T0801]: 'str' is not a type; write 'string'
minimise cost: x;
// ^1 error[T0801]: 'minimise' is not a keyword; write 'minimize'
maximise profit: y;
// ^1 error[T0801]: 'maximise' is not a keyword; write 'maximize'
