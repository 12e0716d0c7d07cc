// Shortest round trip of a sales representative (travelling salesman):
// leave home, visit every customer city exactly once and come back home,
// driving as few kilometres as possible. Subtours are ruled out with visit
// positions: a city visited right after another gets a later position.

{string} Cities = ...;        // home and the customer cities
string home = ...;            // where the trip starts and ends
int cityCount = card(Cities); // cities on the trip, home included

float distance[Cities][Cities] = ...;   // road distance between two cities (km)

// 1 if the trip drives directly from the first city to the second.
dvar boolean drive[Cities][Cities];
// Position of each city on the trip (home is the start).
dvar float position[Cities] in 1..cityCount;

// Kilometres driven on the round trip.
minimize TripLength: sum(i in Cities, j in Cities: i != j) distance[i][j] * drive[i][j];

subject to {
  // Every city is left exactly once ...
  forall(i in Cities)
    leaveOnce: sum(j in Cities: j != i) drive[i][j] == 1;

  // ... and entered exactly once.
  forall(j in Cities)
    enterOnce: sum(i in Cities: i != j) drive[i][j] == 1;

  // Nobody drives from a city to itself.
  forall(i in Cities)
    noSelfLoop: drive[i][i] == 0;

  // Driving from i to j (neither of them home) puts j at a later position than i,
  // which makes any round trip that skips home impossible.
  forall(i in Cities, j in Cities: i != j && i != home && j != home)
    noSubtour: position[i] - position[j] + cityCount * drive[i][j] <= cityCount - 1;
}
