// expect: compiles
// Minimum-cost flow over arcs given as tuples.
{string} Nodes = ...;
tuple Arc { string from; string to; float cost; float capacity; }
{Arc} Arcs = ...;
float supply[Nodes] = ...;

dvar float+ flow[Arcs];

minimize cost: sum(a in Arcs) a.cost * flow[a];

subject to {
  forall(a in Arcs)
    arcCapacity: flow[a] <= a.capacity;
  forall(n in Nodes)
    conservation: sum(a in Arcs: a.from == n) flow[a] - sum(a in Arcs: a.to == n) flow[a] == supply[n];
  viaHub: flow[<"s", "hub", 1, 50>] >= 10;
}
