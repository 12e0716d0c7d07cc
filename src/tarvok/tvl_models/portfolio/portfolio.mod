// Investment mix as a linear programme: how much money goes into each fund so
// that the expected return is as high as possible, while concentration,
// high-risk and bond rules hold and the mix would not have lost more than the
// allowed share of the money in any of the bad historical years.

{string} Funds = ...;      // funds under consideration
{string} HighRisk = ...;   // funds counted as high-risk
{string} Bonds = ...;      // bond funds
int yearCount = ...;       // bad historical years looked at
range Years = 1..yearCount;

float budget = ...;                       // money available (euros)
float expectedReturn[Funds] = ...;        // expected yearly return of each fund (fraction)
float pastReturn[Years][Funds] = ...;     // return of each fund in each bad year (fraction)
float maxShare = ...;                     // most of the budget any one fund may get (fraction)
float maxHighRisk = ...;                  // most of the budget the high-risk funds may get together
float minBonds = ...;                     // least of the budget the bond funds must get together
float maxLoss = ...;                      // largest loss allowed in any bad year (fraction of the budget)

// Euros put into each fund.
dvar float+ invest[Funds];

// Expected gain of the mix over the year.
maximize ExpectedGain: sum(f in Funds) expectedReturn[f] * invest[f];

subject to {
  // No more money is invested than is available; the rest stays in cash.
  budgetLimit: sum(f in Funds) invest[f] <= budget;

  // No single fund gets more than its share of the budget.
  forall(f in Funds)
    concentration: invest[f] <= maxShare * budget;

  // High-risk funds together stay within their cap.
  highRiskCap: sum(f in Funds: f in HighRisk) invest[f] <= maxHighRisk * budget;

  // Bond funds together get at least their minimum.
  bondFloor: sum(f in Funds: f in Bonds) invest[f] >= minBonds * budget;

  // In every bad year the mix would have lost at most the allowed share of the budget.
  forall(y in Years)
    badYearLoss: sum(f in Funds) pastReturn[y][f] * invest[f] >= -maxLoss * budget;
}
