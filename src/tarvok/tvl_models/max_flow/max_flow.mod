// Maximum flow through a water network: the cubic metres per hour sent
// through each pipe, so that no pipe carries more than its capacity, pumping
// stations pass on all the water they receive, and the flow from the
// reservoir to the treatment plant is as large as possible.

{string} Nodes = ...;       // reservoir, pumping stations and treatment plant
string source = ...;        // where the water comes from
string sink = ...;          // where the water must arrive

// A pipe, which water can flow through in one direction only, and its capacity (m3 per hour).
tuple Pipe { string from; string to; float capacity; }
{Pipe} Pipes = ...;

// Water flowing through each pipe (m3 per hour), never more than its capacity.
dvar float+ flow[Pipes];

// Water leaving the reservoir, which is the water reaching the treatment plant.
maximize Throughput: sum(p in Pipes: p.from == source) flow[p] - sum(p in Pipes: p.to == source) flow[p];

subject to {
  // A pipe carries no more than its capacity.
  forall(p in Pipes)
    pipeCapacity: flow[p] <= p.capacity;

  // A pumping station stores nothing: what flows in flows out.
  forall(n in Nodes: n != source && n != sink)
    conservation: sum(p in Pipes: p.to == n) flow[p] == sum(p in Pipes: p.from == n) flow[p];
}
