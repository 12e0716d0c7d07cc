// expect: objective 11
// Single-machine scheduling with precedences and a big-M disjunction.
// Optimum: the precedences chain all four jobs, so the makespan is at least 3 + 5 + 2 + 1 = 11, and
// the starts 0, 3, 8, 10 meet every release and both sides of each disjunction.
{string} Jobs = ...;
int duration[Jobs] = ...;
int release[Jobs] = ...;
tuple Precedence { string before; string after; }
{Precedence} Precedences = ...;
tuple Pair { string first; string second; }
{Pair} Pairs = ...;
int horizon = sum(j in Jobs) duration[j] + max(j in Jobs) release[j];

dvar float+ start[Jobs] in 0..horizon;
dvar float+ makespan;
dvar boolean firstBefore[Pairs];

minimize makespan;

subject to {
  forall(j in Jobs) {
    released: start[j] >= release[j];
    ends: start[j] + duration[j] <= makespan;
  }
  forall(p in Precedences)
    order: start[p.after] >= start[p.before] + duration[p.before];
  forall(q in Pairs) {
    noOverlapA: start[q.first] + duration[q.first] <= start[q.second] + horizon * (1 - firstBefore[q]);
    noOverlapB: start[q.second] + duration[q.second] <= start[q.first] + horizon * firstBefore[q];
  }
}
