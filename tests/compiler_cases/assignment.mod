// expect: compiles
// Assign workers to tasks, each worker at most two tasks; no objective label.
int nWorkers = ...;
int nTasks = ...;
range Workers = 1..nWorkers;
range Tasks = 1..nTasks;
float cost[Workers][Tasks] = ...;
boolean qualified[Workers][Tasks] = ...;

dvar boolean assign[Workers][Tasks];

minimize sum(w in Workers, t in Tasks) cost[w][t] * assign[w][t];

subject to {
  forall(t in Tasks)
    covered: sum(w in Workers: qualified[w][t]) assign[w][t] == 1;
  forall(w in Workers)
    load: sum(t in Tasks) assign[w, t] <= 2;
  forall(w in Workers, t in Tasks: !qualified[w][t])
    assign[w][t] == 0;
}
