float sum = 3;
//    ^ error[T0101]: expected the name of the parameter, found the keyword 'sum', which cannot be used as a name
int 2x = 4;
//  ^ error[T0003]: '2x' is neither a number nor a name; write a product with '*', as in '2*x'
dvar string name;
//   ^ error[T0113]: a decision variable is 'float', 'int' or 'boolean' (found 'string')
dvar float y
  >= 0;
//^ error[T0116]: bounds of a decision variable are written 'in lo..hi' (or as constraints)
{boolean} Flags = {true};
// ^2 error[T0110]: a set holds int, float, string or tuple values, not booleans
dvar float x;
minimize x;
