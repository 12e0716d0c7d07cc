// expect: objective 6977.5
// Multi-period production and inventory planning.
// Optimum: the least production (402 A, 211 B: demand less the opening stock plus the closing stock of
// 2 A and 1 B) made in the period that needs it (120, 180, 160 and 153 units, each within capacity), so
// only the closing stock is held: 10 * 402 + 14 * 211 + 1 * 2 + 1.5 * 1.
int T = ...;
range Periods = 1..T;
{string} Products = ...;
float demand[Products][Periods] = ...;
float prodCost[Products] = ...;
float holdCost[Products] = ...;
float initialStock[Products] = ...;
float capacity[Periods] = ...;

dvar float+ make[Products][Periods];
dvar float+ stock[Products][Periods];

minimize sum(p in Products, t in Periods) (prodCost[p] * make[p][t] + holdCost[p] * stock[p][t]);

subject to {
  forall(p in Products, t in Periods: t > 1)
    balance: stock[p][t - 1] + make[p][t] - demand[p][t] == stock[p][t];
  forall(p in Products)
    firstPeriod: initialStock[p] + make[p][1] - demand[p][1] == stock[p][1];
  forall(t in Periods)
    plantCapacity: sum(p in Products) make[p][t] <= capacity[t];
  forall(p in Products)
    endStock: stock[p][T] >= 0.1 * initialStock[p];
}
