// expect: objective 16
// Assign workers to tasks, each worker at most two tasks; no objective label.
// Optimum: the cheapest qualified worker per task (task 1: worker 3 at 5, task 2: worker 1 at 2,
// task 3: worker 3 at 1, task 4: worker 1 or 3 at 8) is a lower bound of 16, and giving task 4 to
// worker 1 reaches it with two tasks each for workers 1 and 3.
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
