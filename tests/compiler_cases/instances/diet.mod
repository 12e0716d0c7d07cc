// expect: objective 39
/* Diet: choose food servings that meet nutrient bounds at least cost. */
// Optimum: 5 bread, 4 milk and 10 potato (10 + 14 + 15), found by enumerating all 11^4 servings plans.
{string} Foods = ...;
{string} Nutrients = ...;
float price[Foods] = ...;
float minAmount[Nutrients] = ...;
float maxAmount[Nutrients] = ...;
float content[Foods][Nutrients] = ...;
int maxServings = ...;

dvar int+ servings[Foods] in 0..maxServings;

minimize cost: sum(f in Foods) price[f] * servings[f];

subject to {
  forall(n in Nutrients)
    nutrition: minAmount[n] <= sum(f in Foods) content[f][n] * servings[f] <= maxAmount[n];
}
