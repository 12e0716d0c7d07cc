// Unit commitment of two generators over three hours.
{string} Gens = ...;
int hours = ...;
range Hours = 1..hours;
float demand[Hours] = ...;        // MW needed each hour
float capacity[Gens] = ...;       // most MW a running generator makes
float minOutput = ...;            // least MW a running generator makes
float energyCost[Gens] = ...;     // cost per MWh
float startCost[Gens] = ...;      // cost of one start

dvar float+ power[Gens][Hours];   // MW made
dvar boolean on[Gens][Hours];     // the generator runs in the hour
dvar boolean start[Gens][Hours];  // the generator starts in the hour

minimize totalCost:
  sum(g in Gens, h in Hours) (energyCost[g] * power[g][h] + startCost[g] * start[g][h]);

subject to {
  forall(h in Hours)
    meetDemand: sum(g in Gens) power[g][h] >= demand[h];
  forall(g in Gens, h in Hours) {
    upper: power[g][h] <= capacity[g] * on[g][h];
    lower: power[g][h] >= minOutput * on[g][h];
  }
  // Every generator is off before the first hour: running in hour 1 is a start.
  forall(g in Gens)
    firstStart: start[g][1] >= on[g][1];
  forall(g in Gens, h in Hours: h > 1)
    laterStart: start[g][h] >= on[g][h] - on[g][h-1];
}
