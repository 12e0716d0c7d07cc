// expect: compiles
// Multi-period production and inventory planning.
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
