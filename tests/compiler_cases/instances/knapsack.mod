// expect: objective 250
// Multi-dimensional 0-1 knapsack.
// Optimum: at most 3 items; the triples worth 260 to 300 ({2,3,4}, {2,3,6}, {1,2,3}, {3,4,6}, {1,3,4})
// each break the weight or the volume limit, and {2,3,5} (weight 55, volume 11) is worth 250.
int nItems = ...;
range Items = 1..nItems;
{string} Resources = ...;
float value[Items] = ...;
float use[Resources][Items] = ...;
float capacity[Resources] = ...;

dvar boolean take[Items];

maximize totalValue: sum(i in Items) value[i] * take[i];

subject to {
  forall(r in Resources)
    fits: sum(i in Items) use[r][i] * take[i] <= capacity[r];
  atMostHalf: sum(i in Items) take[i] <= nItems / 2;
}
