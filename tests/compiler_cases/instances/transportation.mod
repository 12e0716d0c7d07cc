// expect: objective 1707.5
// Ship goods from plants to markets at least cost.
// Optimum: each market from its cheapest plant (New-York 2.5 from either, Chicago 1.7 from Seattle,
// Topeka 1.4 from San-Diego) is a lower bound, and the supplies allow it: 2.5*325 + 1.7*300 + 1.4*275.
{string} Plants = ...;
{string} Markets = ...;
float supply[Plants] = ...;
float demand[Markets] = ...;
float cost[Plants][Markets] = ...;

dvar float+ ship[Plants][Markets];

dexpr float totalCost = sum(p in Plants, m in Markets) cost[p][m] * ship[p][m];

minimize totalCost;

subject to {
  forall(p in Plants)
    supplyLimit: sum(m in Markets) ship[p][m] <= supply[p];
  forall(m in Markets)
    meetDemand: sum(p in Plants) ship[p][m] >= demand[m];
}
