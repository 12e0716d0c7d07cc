// Quickest delivery route as a network flow: one van leaves the bakery and
// must arrive at the hotel; choose the road segments it drives so that it
// enters and leaves every junction it passes and the driving time is as short
// as possible.

{string} Junctions = ...;   // places on the map, including start and destination
string start = ...;         // where the route begins (the bakery)
string destination = ...;   // where the route ends (the hotel)

// A one-way road segment and the minutes it takes.
tuple Road { string from; string to; float minutes; }
{Road} Roads = ...;

// 1 if the route drives along the road segment.
dvar boolean drive[Roads];

// Driving time of the route.
minimize DrivingTime: sum(r in Roads) r.minutes * drive[r];

subject to {
  // The route leaves the start once and never comes back to it.
  leaveStart: sum(r in Roads: r.from == start) drive[r] - sum(r in Roads: r.to == start) drive[r] == 1;

  // The route arrives at the destination once.
  reachDestination: sum(r in Roads: r.to == destination) drive[r] - sum(r in Roads: r.from == destination) drive[r] == 1;

  // At every other junction the route leaves as often as it arrives.
  forall(j in Junctions: j != start && j != destination)
    passThrough: sum(r in Roads: r.to == j) drive[r] == sum(r in Roads: r.from == j) drive[r];
}
