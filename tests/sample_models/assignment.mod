// One task per worker and one worker per task, in the fewest hours.
range Workers = 1..4;
range Tasks = 1..4;
float hours[Workers][Tasks] = ...;

dvar boolean assign[Workers][Tasks];

minimize total_hours: sum(w in Workers, t in Tasks) hours[w][t] * assign[w][t];
subject to {
  forall(w in Workers) one_task: sum(t in Tasks) assign[w][t] == 1;
  forall(t in Tasks) one_worker: sum(w in Workers) assign[w][t] == 1;
}
