// Cheapest daily canteen menu: how many servings of each food to serve so
// that every nutrient reaches its daily minimum, calories stay under their
// ceiling, and the cost of the day's food is as low as possible.

{string} Foods = ...;        // foods the canteen can serve
{string} Nutrients = ...;    // nutrients with a daily minimum: calories, protein, calcium, vitamin C

float price[Foods] = ...;                    // cost of one serving of each food
float content[Foods][Nutrients] = ...;       // amount of each nutrient in one serving
float minNeed[Nutrients] = ...;              // daily minimum of each nutrient
float calorieCeiling = ...;                  // most calories a day's menu may give
float maxServings = ...;                     // most servings of any one food per day

// Servings of each food per day; portions are weighed, so fractions are allowed,
// and no food is served more than maxServings times.
dvar float+ serve[Foods] in 0..maxServings;

// Cost of the day's menu.
minimize MenuCost: sum(f in Foods) price[f] * serve[f];

subject to {
  // Every nutrient reaches its daily minimum.
  forall(n in Nutrients)
    nutrientMinimum: sum(f in Foods) content[f][n] * serve[f] >= minNeed[n];

  // The menu does not give more calories than allowed.
  calorieLimit: sum(f in Foods) content[f]["Calories"] * serve[f] <= calorieCeiling;
}
