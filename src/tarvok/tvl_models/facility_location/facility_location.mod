// Capacitated warehouse location: decide which candidate warehouses to open
// and how many tonnes each delivers to each supermarket chain, so that every
// chain's demand is met, open warehouses stay within their throughput, closed
// ones deliver nothing, and fixed plus delivery costs are as low as possible.

{string} Warehouses = ...;   // candidate warehouse locations
{string} Chains = ...;       // supermarket chains to supply

float fixedCost[Warehouses] = ...;             // yearly cost of keeping a warehouse open (pounds)
float throughput[Warehouses] = ...;            // most tonnes a warehouse can handle in a year
float demand[Chains] = ...;                    // tonnes each chain needs in a year
float delivery[Warehouses][Chains] = ...;      // cost of delivering one tonne (pounds)

// 1 if the warehouse is opened.
dvar boolean open[Warehouses];
// Tonnes delivered per year from each warehouse to each chain.
dvar float+ supply[Warehouses][Chains];

// Fixed costs of the open warehouses.
dexpr float fixedPart = sum(w in Warehouses) fixedCost[w] * open[w];
// Delivery costs of all tonnes shipped.
dexpr float deliveryPart = sum(w in Warehouses, c in Chains) delivery[w][c] * supply[w][c];

// Yearly cost of the network.
minimize YearlyCost: fixedPart + deliveryPart;

subject to {
  // Every chain receives its full demand.
  forall(c in Chains)
    demandMet: sum(w in Warehouses) supply[w][c] == demand[c];

  // An open warehouse handles at most its throughput; a closed one handles nothing.
  forall(w in Warehouses)
    throughputLimit: sum(c in Chains) supply[w][c] <= throughput[w] * open[w];
}
