// expect: data:2:8: 'cost' has 3 values but its index set 'Cities' has 4 elements
// expect: data:3:23: 'dist["B"]' has 3 values but its index set 'Cities' has 4 elements
// expect: data:4:9: 'hours' has 2 values but its index range 'Days' has 3 elements
// expect: data:5:9: 'load' has 2 dimensions, so its values are a list of lists in the order of its index set 'Cities', then its index range 'Days', as in [[1, 2], [3, 4]]; found the number 1 where a list belongs
// expect: data:6:10: 'Levels' is a set; give its elements in braces, as in {1, 2, 3}, not a list [...]
{string} Cities = ...;
range Days = 1..3;
float cost[Cities] = ...;
float dist[Cities][Cities] = ...;
int hours[Days] = ...;
float load[Cities][Days] = ...;
{float} Levels = ...;
dvar float x;
minimize x;
