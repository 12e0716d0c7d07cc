// Least-cost shipping plan from two warehouses to three stores.
{string} Warehouses = ...;
{string} Stores = ...;
float supply[Warehouses] = ...;
float demand[Stores] = ...;
float cost[Warehouses][Stores] = ...;

dvar float+ ship[Warehouses][Stores];

minimize total_cost: sum(w in Warehouses, s in Stores) cost[w][s] * ship[w][s];
subject to {
  forall(w in Warehouses) stock: sum(s in Stores) ship[w][s] <= supply[w];
  forall(s in Stores) need: sum(w in Warehouses) ship[w][s] >= demand[s];
}
