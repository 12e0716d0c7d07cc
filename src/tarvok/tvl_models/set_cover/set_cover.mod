// Ambulance station siting (set covering): choose sites so that every
// neighbourhood is reachable within ten minutes from at least one station,
// at the lowest total building cost.

{string} Sites = ...;            // possible station sites
{string} Neighbourhoods = ...;   // neighbourhoods that must be covered

float buildCost[Sites] = ...;                  // cost of a station at each site (thousands)
int reaches[Sites][Neighbourhoods] = ...;      // 1 if a station at the site reaches the neighbourhood within ten minutes

// 1 if a station is built at the site.
dvar boolean build[Sites];

// Total building cost.
minimize BuildingCost: sum(s in Sites) buildCost[s] * build[s];

subject to {
  // Every neighbourhood is reached in time from at least one built station.
  forall(n in Neighbourhoods)
    covered: sum(s in Sites) reaches[s][n] * build[s] >= 1;
}
