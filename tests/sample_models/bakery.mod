// Bread and cake batches that maximise profit (hundreds of dollars).
{string} Products = ...;
{string} Resources = ...;
float profit[Products] = ...;
float use[Resources][Products] = ...;   // per whole batch
float available[Resources] = ...;

dvar int+ batches[Products];

maximize total_profit: sum(p in Products) profit[p] * batches[p];
subject to {
  forall(r in Resources)
    capacity: sum(p in Products) use[r][p] * batches[p] <= available[r];
}
