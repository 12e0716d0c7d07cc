// Lot sizing with set-up costs: decide in which weeks the filling line runs
// and how many crates it fills, so that weekly demand is met from production
// or stock, the line fills only in weeks it is set up and within its capacity,
// and set-up, filling and storage costs together are as low as possible.

int weekCount = ...;             // weeks in the plan
range Weeks = 1..weekCount;

float demand[Weeks] = ...;       // crates ordered for each week
float setupCost = ...;           // cost of cleaning and setting up the line for a week (euros)
float fillCost = ...;            // cost of filling one crate (euros)
float holdCost = ...;            // cost of keeping one crate in store for a week (euros)
float lineCapacity = ...;        // most crates the line fills in a week
float startStock = ...;          // crates in store before the first week

// 1 if the line is set up and runs in the week.
dvar boolean run[Weeks];
// Crates filled in each week.
dvar float+ fill[Weeks];
// Crates in store at the end of each week.
dvar float+ stock[Weeks];

// Set-up, filling and storage costs over the plan.
minimize TotalCost: sum(w in Weeks) setupCost * run[w]
                  + sum(w in Weeks) fillCost * fill[w]
                  + sum(w in Weeks) holdCost * stock[w];

subject to {
  // Week 1: the starting stock and the week's filling cover demand; the rest is stored.
  firstWeek: startStock + fill[1] == demand[1] + stock[1];

  // Later weeks: last week's stock and this week's filling cover demand; the rest is stored.
  forall(w in Weeks: w > 1)
    stockBalance: stock[w - 1] + fill[w] == demand[w] + stock[w];

  // The line fills only in weeks it is set up, and then at most its capacity.
  forall(w in Weeks)
    setupNeeded: fill[w] <= lineCapacity * run[w];

  // Nothing is left in store after the last week.
  emptyAtEnd: stock[weekCount] == 0;
}
