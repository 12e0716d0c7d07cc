// expect: data:1:15: expected ',' or '}' in the '{' opened at 1:10, found the string "B"
// expect: data:2:14: expected a value (a number, a string, true, false, [list], {set} or <tuple>), found ']'
// expect: data:3:1: the data text holds only assignments such as 'n = 5;'; declarations belong in the model
// expect: data:4:7: data values are literals; compute derived values in the model
// expect: data:5:5: data values are literals, but 'g' is a name; write the value itself (or compute it in the model)
// expect: data:6:5: '...' belongs in the model; the data text gives the value itself
// expect: data:7:5: an array is given whole, as in 'demand = [10, 20, 30];', not element by element
// expect: data:8:3: expected '=' after 'f', found the number 2
{string} Cities = ...;
float cost[Cities] = ...;
int n = ...;
float f = ...;
float g = ...;
dvar float x;
minimize x;
