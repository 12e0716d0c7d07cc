// expect: objective 1556.25
// Capacitated facility location: open sites and assign customers.
// Optimum: South alone (1200) holds all 120 units of demand, and every other set of sites with room
// for 120 costs at least 1900 to open; South serves each customer: 0.75 * (6*20 + 2*35 + 5*25 + 4*40)
// = 356.25 on top of 1200.
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
