// Which distribution centres to open, and the shipping plan, at least cost.
{string} Sites = ...;
{string} Customers = ...;
float opening[Sites] = ...;
float capacity[Sites] = ...;
float demand[Customers] = ...;
float ship_cost[Sites][Customers] = ...;

dvar boolean open[Sites];
dvar float+ ship[Sites][Customers];

minimize total_cost: sum(s in Sites) opening[s] * open[s] + sum(s in Sites, c in Customers) ship_cost[s][c] * ship[s][c];
subject to {
  forall(c in Customers) served: sum(s in Sites) ship[s][c] >= demand[c];
  forall(s in Sites) only_if_open: sum(c in Customers) ship[s][c] <= capacity[s] * open[s];
}
