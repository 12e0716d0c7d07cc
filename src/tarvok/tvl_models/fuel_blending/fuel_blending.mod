// Petrol blending: how many barrels of each component go into each petrol
// grade so that the margin (sales minus component cost) is as large as
// possible, while every grade meets its octane and vapour-pressure limits and
// its contracted volume, and no more of a component is used than is in stock.

{string} Components = ...;   // refinery streams that can be blended
{string} Grades = ...;       // petrol grades that are sold

float octane[Components] = ...;       // octane rating of each component
float vapour[Components] = ...;       // vapour pressure of each component (psi)
float cost[Components] = ...;         // cost of one barrel of each component
float stock[Components] = ...;        // barrels of each component available
float price[Grades] = ...;            // selling price of one barrel of each grade
float minOctane[Grades] = ...;        // lowest octane rating allowed for each grade
float maxVapour[Grades] = ...;        // highest vapour pressure allowed for each grade
float contract[Grades] = ...;         // barrels of each grade already sold under contract

// Barrels of each component blended into each grade.
dvar float+ blend[Components][Grades];

// Margin of the plan: each barrel blended earns its grade's price and costs its component's price.
maximize BlendingMargin: sum(c in Components, g in Grades) (price[g] - cost[c]) * blend[c][g];

subject to {
  // A component cannot be used beyond its stock.
  forall(c in Components)
    componentStock: sum(g in Grades) blend[c][g] <= stock[c];

  // Blend properties are volume-weighted averages, so the octane limit is linear:
  // the sum of (octane - minimum) * volume must not be negative.
  forall(g in Grades)
    octaneRating: sum(c in Components) (octane[c] - minOctane[g]) * blend[c][g] >= 0;

  // Likewise the vapour pressure of a grade may not exceed its limit.
  forall(g in Grades)
    vapourPressure: sum(c in Components) (vapour[c] - maxVapour[g]) * blend[c][g] <= 0;

  // Contracted volumes must be produced.
  forall(g in Grades)
    contracts: sum(c in Components) blend[c][g] >= contract[g];
}
