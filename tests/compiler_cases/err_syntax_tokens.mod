// expect: model:6:7: expected the name of the parameter, found the keyword 'sum', which cannot be used as a name
// expect: model:7:5: '2x' is neither a number nor a name; write a product with '*', as in '2*x'
// expect: model:8:6: a decision variable is 'float', 'int' or 'boolean' (found 'string')
// expect: model:10:3: bounds of a decision variable are written 'in lo..hi' (or as constraints)
// expect: model:11:2: a set holds int, float, string or tuple values, not booleans
float sum = 3;
int 2x = 4;
dvar string name;
dvar float y
  >= 0;
{boolean} Flags = {true};
dvar float x;
minimize x;
