// Transportation plan for cement: tonnes sent from each plant to each
// warehouse next month, so that every warehouse gets what it needs, no plant
// ships more than it can produce, and the total freight bill is as low as possible.

{string} Plants = ...;       // cement plants that ship
{string} Warehouses = ...;   // warehouses that receive

float capacity[Plants] = ...;                 // tonnes each plant can produce in the month
float need[Warehouses] = ...;                 // tonnes each warehouse needs in the month
float freight[Plants][Warehouses] = ...;      // transport cost of one tonne on each route (kroner)

// Tonnes sent from each plant to each warehouse.
dvar float+ ship[Plants][Warehouses];

// Total freight bill of the month.
minimize FreightCost: sum(p in Plants, w in Warehouses) freight[p][w] * ship[p][w];

subject to {
  // A plant cannot ship more than it produces.
  forall(p in Plants)
    plantCapacity: sum(w in Warehouses) ship[p][w] <= capacity[p];

  // Every warehouse receives at least what it needs.
  forall(w in Warehouses)
    warehouseNeed: sum(p in Plants) ship[p][w] >= need[w];
}
