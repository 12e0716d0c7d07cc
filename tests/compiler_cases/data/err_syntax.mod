{string} Cities = ...;
float cost[Cities] = ...;
int n = ...;
float f = ...;
float g = ...;
dvar float x;
minimize x;
