// Crew pairing as set partitioning: choose pairings so that every flight is
// flown by exactly one crew and the total crew cost is as low as possible.

int flightCount = ...;              // flights to cover tomorrow
range Flights = 1..flightCount;
{string} Pairings = ...;            // candidate pairings built by the planners

float pairingCost[Pairings] = ...;          // pay and hotel cost of each pairing (euros)
int flies[Pairings][Flights] = ...;         // 1 if the pairing flies the flight

// 1 if the pairing is used by a crew.
dvar boolean use[Pairings];

// Crew cost of the day.
minimize CrewCost: sum(p in Pairings) pairingCost[p] * use[p];

subject to {
  // Every flight is flown by exactly one chosen pairing: none uncovered, no passengers.
  forall(f in Flights)
    coverOnce: sum(p in Pairings) flies[p][f] * use[p] == 1;
}
