// A lead time too long only for the last depot, in a family of 150x150x150 = 3375000 bindings:
// every binding is checked, so the fault is found wherever it is.
range Depots = 1..150;
range Customers = 1..150;
range Periods = 1..150;
int leadTime[Depots] = ...;
dvar float+ stock[Customers][Periods];
dvar float+ ship[Depots][Customers][Periods];
minimize sum(c in Customers, t in Periods) stock[c][t];
subject to {
  forall(d in Depots, c in Customers, t in Periods: t > 1)
    arrive: stock[c][t] >= ship[d][c][t - leadTime[d]];
//                                    ^ error[T0601]: index 't - leadTime[d]' = -148 of 'ship' is outside 'Periods' (1..150), when d = 150, c = 1, t = 2
}
