// Multi-commodity flow on a rail network: containers of each good are routed
// from their origin to their destination; all goods share the daily capacity
// of every link, and the total transport cost is as low as possible.

{string} Stations = ...;   // rail stations and ports

// A good to move: where it starts, where it must arrive, and containers per day.
tuple Commodity { string name; string origin; string destination; float volume; }
{Commodity} Commodities = ...;

// A one-way rail link with its daily capacity and cost per container.
tuple Link { string from; string to; float capacity; float cost; }
{Link} Links = ...;

// Containers of each good sent over each link per day.
dvar float+ flow[Commodities][Links];

// Daily transport cost of all goods.
minimize TransportCost: sum(k in Commodities, l in Links) l.cost * flow[k][l];

subject to {
  // At its origin a good leaves with its whole daily volume.
  forall(k in Commodities)
    leaveOrigin: sum(l in Links: l.from == k.origin) flow[k][l] - sum(l in Links: l.to == k.origin) flow[k][l] == k.volume;

  // At its destination the whole daily volume arrives.
  forall(k in Commodities)
    reachDestination: sum(l in Links: l.to == k.destination) flow[k][l] - sum(l in Links: l.from == k.destination) flow[k][l] == k.volume;

  // At every other station a good leaves as much as arrives.
  forall(k in Commodities, s in Stations: s != k.origin && s != k.destination)
    passThrough: sum(l in Links: l.to == s) flow[k][l] == sum(l in Links: l.from == s) flow[k][l];

  // All goods together stay within the daily capacity of a link.
  forall(l in Links)
    sharedCapacity: sum(k in Commodities) flow[k][l] <= l.capacity;
}
