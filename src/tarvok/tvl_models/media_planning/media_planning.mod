// Advertising plan for a product launch: whole numbers of ads bought in each
// medium so that the audience reached is as large as possible within the
// budget, the availability of each medium, the minimum of social-media
// campaigns and the cap on television spending.

{string} Media = ...;   // media in which ads can be bought

float adCost[Media] = ...;        // cost of one ad in each medium (euros)
float reach[Media] = ...;         // people reached by one ad in each medium
int available[Media] = ...;       // most ads each medium sells this month
float budget = ...;               // advertising budget of the month (euros)
int minSocial = ...;              // least social-media campaigns the brand team wants
float maxTvShare = ...;           // most of the budget that may go to television (fraction)

// Ads bought in each medium, in whole units.
dvar int+ ads[Media];

// People reached by all ads.
maximize AudienceReached: sum(m in Media) reach[m] * ads[m];

subject to {
  // Spending stays within the budget.
  budgetLimit: sum(m in Media) adCost[m] * ads[m] <= budget;

  // No medium sells more ads than it has this month.
  forall(m in Media)
    mediumAvailability: ads[m] <= available[m];

  // Enough social-media campaigns for the young target group.
  socialMinimum: ads["Social"] >= minSocial;

  // Television takes no more than its share of the budget.
  tvSpending: adCost["TV"] * ads["TV"] <= maxTvShare * budget;
}
