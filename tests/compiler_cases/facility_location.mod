// expect: compiles
// Capacitated facility location: open sites and assign customers.
{string} Sites = ...;
{string} Customers = ...;
float fixedCost[Sites] = ...;
float capacity[Sites] = ...;
float demand[Customers] = ...;
float distance[Sites][Customers] = ...;
float costPerUnitDistance = 0.75;
float totalDemand = sum(c in Customers) demand[c];

dvar boolean open[Sites];
dvar float+ serve[Sites][Customers];

dexpr float openingCost = sum(s in Sites) fixedCost[s] * open[s];
dexpr float transportCost = sum(s in Sites, c in Customers) costPerUnitDistance * distance[s][c] * serve[s][c];

minimize openingCost + transportCost;

subject to {
  forall(c in Customers)
    served: sum(s in Sites) serve[s][c] == demand[c];
  forall(s in Sites) {
    siteCapacity: sum(c in Customers) serve[s][c] <= capacity[s] * open[s];
    forall(c in Customers)
      onlyIfOpen: serve[s][c] <= demand[c] * open[s];
  }
  enoughCapacity: sum(s in Sites) capacity[s] * open[s] >= totalDemand;
}
