// Cheapest daily cattle feed from corn and soybean meal.
{string} Feeds = ...;
float cost[Feeds] = ...;        // dollars per kg
float protein[Feeds] = ...;     // kg per kg
float fibre[Feeds] = ...;       // kg per kg
float minimum_feed = ...;       // kg per day
float protein_share = ...;      // at least, by weight
float fibre_share = ...;        // at most, by weight

dvar float+ kg[Feeds];

minimize daily_cost: sum(f in Feeds) cost[f] * kg[f];
subject to {
  enough: sum(f in Feeds) kg[f] >= minimum_feed;
  protein_floor: sum(f in Feeds) protein[f] * kg[f] >= protein_share * sum(f in Feeds) kg[f];
  fibre_cap: sum(f in Feeds) fibre[f] * kg[f] <= fibre_share * sum(f in Feeds) kg[f];
}
