// Alloy blending in a foundry: tonnes of each raw material melted so that the
// batch has the ordered weight, every element's share lies within the alloy's
// limits, stocks are respected, and the material cost is as low as possible.

{string} Materials = ...;   // raw materials in the yard
{string} Elements = ...;    // elements whose share in the alloy is specified

float cost[Materials] = ...;                  // price of one tonne of each material (euros)
float share[Materials][Elements] = ...;       // share of each element in each material (percent)
float stock[Materials] = ...;                 // tonnes of each material available
float lowShare[Elements] = ...;               // least share of each element in the alloy (percent)
float highShare[Elements] = ...;              // most share of each element in the alloy (percent)
float batch = ...;                            // tonnes of alloy ordered

// Tonnes of each material melted.
dvar float+ melt[Materials];

// Cost of the materials melted.
minimize MaterialCost: sum(m in Materials) cost[m] * melt[m];

subject to {
  // Nothing is lost in melting, so the materials add up to the ordered batch.
  batchWeight: sum(m in Materials) melt[m] == batch;

  // Every element's share of the batch lies within the alloy's limits.
  forall(e in Elements)
    elementShare: lowShare[e] * batch <= sum(m in Materials) share[m][e] * melt[m] <= highShare[e] * batch;

  // No more of a material is melted than the yard holds.
  forall(m in Materials)
    yardStock: melt[m] <= stock[m];
}
