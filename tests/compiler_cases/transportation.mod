// expect: compiles
// Ship goods from plants to markets at least cost.
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
