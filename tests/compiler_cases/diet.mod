// expect: compiles
/* Diet: choose food servings that meet nutrient bounds at least cost. */
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
