{string} Cities = ...;
range Days = 1..3;
float cost[Cities] = ...;
float dist[Cities][Cities] = ...;
int hours[Days] = ...;
float load[Cities][Days] = ...;
{float} Levels = ...;
dvar float x;
minimize x;
