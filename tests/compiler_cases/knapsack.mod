// expect: compiles
// Multi-dimensional 0-1 knapsack.
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
