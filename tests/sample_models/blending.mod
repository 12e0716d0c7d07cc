// Blend two crudes into regular and premium gasoline for the largest profit.
{string} Crudes = ...;
{string} Grades = ...;
float octane[Crudes] = ...;
float crude_cost[Crudes] = ...;
float crude_available[Crudes] = ...;
float price[Grades] = ...;
float min_octane[Grades] = ...;
float min_barrels[Grades] = ...;

dvar float+ blend[Crudes][Grades];   // barrels of each crude in each grade

maximize profit: sum(c in Crudes, g in Grades) (price[g] - crude_cost[c]) * blend[c][g];
subject to {
  forall(c in Crudes) crude_limit: sum(g in Grades) blend[c][g] <= crude_available[c];
  forall(g in Grades) made: sum(c in Crudes) blend[c][g] >= min_barrels[g];
  // Octane blends linearly by volume.
  forall(g in Grades)
    quality: sum(c in Crudes) octane[c] * blend[c][g] >= min_octane[g] * sum(c in Crudes) blend[c][g];
}
