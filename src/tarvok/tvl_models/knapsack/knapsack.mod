// Backpack packing (a knapsack problem): choose which items to take so that
// their total usefulness is as high as possible while their total weight
// stays within what the hiker can carry. The stove needs its fuel.

{string} Items = ...;   // gear the hiker is considering

float weight[Items] = ...;       // weight of each item (kg)
float usefulness[Items] = ...;   // the hiker's usefulness score of each item
float carryLimit = ...;          // most extra weight the hiker can carry (kg)

// 1 if the item is packed, 0 if it stays at home.
dvar boolean pack[Items];

// Total usefulness of the packed items.
maximize TotalUsefulness: sum(i in Items) usefulness[i] * pack[i];

subject to {
  // The packed items may not weigh more than the hiker can carry.
  weightLimit: sum(i in Items) weight[i] * pack[i] <= carryLimit;

  // Taking the stove means taking the fuel canister too.
  stoveNeedsFuel: pack["Stove"] <= pack["Fuel"];
}
