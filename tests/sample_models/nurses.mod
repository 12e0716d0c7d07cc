// Fewest nurses for six daily periods; each nurse works two consecutive
// periods, and a nurse starting in the last period also works the first.
int periods = ...;
range Periods = 1..periods;
float need[Periods] = ...;

dvar int+ start[Periods];   // nurses starting in each period

minimize nurses: sum(p in Periods) start[p];
subject to {
  first_period: start[1] + start[periods] >= need[1];
  forall(p in Periods: p > 1) cover: start[p] + start[p - 1] >= need[p];
}
