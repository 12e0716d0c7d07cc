// Transshipment of garden furniture: pallets travel from the factories through
// regional depots to the customers. Decide the pallets on every road link so
// that customers get their demand, factories stay within production, depots
// pass on exactly what they receive, links stay within the hauliers' limits,
// and the shipping cost is as low as possible.

{string} Factories = ...;   // where pallets are made
{string} Depots = ...;      // regional depots that pass pallets on without keeping stock
{string} Customers = ...;   // where pallets are delivered

// A road link with its cost per pallet and the most pallets it can carry.
tuple Link { string from; string to; float cost; float limit; }
{Link} Links = ...;

float production[Factories] = ...;   // pallets each factory can make this month
float demand[Customers] = ...;       // pallets each customer needs this month

// Pallets sent over each road link.
dvar float+ ship[Links];

// Shipping cost of the month over all links.
minimize ShippingCost: sum(l in Links) l.cost * ship[l];

subject to {
  // A factory ships no more than it makes.
  forall(f in Factories)
    factoryOutput: sum(l in Links: l.from == f) ship[l] <= production[f];

  // A depot sends on exactly what it receives.
  forall(d in Depots)
    depotBalance: sum(l in Links: l.to == d) ship[l] == sum(l in Links: l.from == d) ship[l];

  // Every customer receives at least its demand.
  forall(c in Customers)
    customerDemand: sum(l in Links: l.to == c) ship[l] >= demand[c];

  // No link carries more than the hauliers can take.
  forall(l in Links)
    linkLimit: ship[l] <= l.limit;
}
