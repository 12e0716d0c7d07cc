// expect: objective 170
// Minimum-cost flow over arcs given as tuples.
// Optimum: 40 units on the cheapest path s-hub-a-t (3 a unit, hub-a holds 40; it also meets viaHub) and
// the other 10 on the next cheapest, s-a-t (5 a unit): 120 + 50.
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
