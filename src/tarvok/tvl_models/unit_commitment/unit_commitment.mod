// Unit commitment for an island grid: in every time block decide which
// generating units run and how much each produces, so that demand is met, a
// running unit stays between its minimum and maximum output, the running
// units keep a spinning reserve, and running plus production costs are as low as possible.

{string} Units = ...;            // generating units of the grid
int blockCount = ...;            // time blocks of the day
range Blocks = 1..blockCount;

float demand[Blocks] = ...;      // demand in each block (MW)
float minOutput[Units] = ...;    // least output of a running unit (MW)
float maxOutput[Units] = ...;    // most output of a running unit (MW)
float runCost[Units] = ...;      // cost of keeping a unit running for a block (euros)
float energyCost[Units] = ...;   // cost of one MW produced for a block (euros)
float reserveMargin = ...;       // extra capacity the running units must offer above demand (fraction)

// 1 if the unit runs in the block.
dvar boolean on[Units][Blocks];
// MW the unit produces in the block.
dvar float+ output[Units][Blocks];

// Running costs plus production costs over the day.
minimize OperatingCost: sum(u in Units, b in Blocks) runCost[u] * on[u][b]
                      + sum(u in Units, b in Blocks) energyCost[u] * output[u][b];

subject to {
  // The units together meet the demand of every block.
  forall(b in Blocks)
    meetDemand: sum(u in Units) output[u][b] >= demand[b];

  // A running unit produces at least its minimum output ...
  forall(u in Units, b in Blocks)
    minimumOutput: output[u][b] >= minOutput[u] * on[u][b];

  // ... and at most its maximum; a unit that is off produces nothing.
  forall(u in Units, b in Blocks)
    maximumOutput: output[u][b] <= maxOutput[u] * on[u][b];

  // The running units could produce at least the reserve margin above demand.
  forall(b in Blocks)
    spinningReserve: sum(u in Units) maxOutput[u] * on[u][b] >= (1 + reserveMargin) * demand[b];
}
