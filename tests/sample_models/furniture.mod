// Whole tables, chairs and desks for the largest weekly profit.
{string} Pieces = ...;
{string} Resources = ...;
float profit[Pieces] = ...;
float need[Resources][Pieces] = ...;
float available[Resources] = ...;

dvar int+ make[Pieces];

maximize weekly_profit: sum(p in Pieces) profit[p] * make[p];
subject to {
  forall(r in Resources) capacity: sum(p in Pieces) need[r][p] * make[p] <= available[r];
}
