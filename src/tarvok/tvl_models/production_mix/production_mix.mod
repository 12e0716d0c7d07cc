// Weekly production plan of a furniture workshop: how many tables, chairs and
// bookcases to make so that the week's profit is as large as possible without
// using more carpentry hours, finishing hours or boards than the week offers.

{string} Products = ...;    // what the workshop makes: tables, chairs, bookcases
{string} Resources = ...;   // what limits the week: carpentry hours, finishing hours, boards of wood

float profit[Products] = ...;            // profit earned by one unit of each product (euros)
float use[Products][Resources] = ...;    // hours or boards that one unit takes of each resource
float available[Resources] = ...;        // hours or boards the workshop has each week
float bookcaseMarket = ...;              // most bookcases the shop can sell in a week
float tableOrder = ...;                  // tables promised to the dealer every week

// Units of each product made per week; an average plan, so fractions are allowed.
dvar float+ make[Products];

// The week's profit: units made times the profit of one unit, over all products.
maximize WeeklyProfit: sum(p in Products) profit[p] * make[p];

subject to {
  // Carpentry hours, finishing hours and boards used cannot exceed what the week offers.
  forall(r in Resources)
    resourceLimit: sum(p in Products) use[p][r] * make[p] <= available[r];

  // The shop cannot sell more bookcases than its market takes.
  bookcaseSales: make["Bookcase"] <= bookcaseMarket;

  // The dealer's weekly order of tables must be met.
  dealerOrder: make["Table"] >= tableOrder;
}
