// Load balancing on identical presses (makespan minimisation): assign every
// print job to exactly one press so that the busiest press finishes as early
// as possible.

{string} Jobs = ...;        // print jobs of the night
int pressCount = ...;       // identical presses available
range Presses = 1..pressCount;

float minutes[Jobs] = ...;  // running time of each job (minutes)

// 1 if the job runs on the press.
dvar boolean assign[Jobs][Presses];
// Time at which the last press finishes (minutes after the start).
dvar float+ makespan;

// Finish the whole night's work as early as possible.
minimize FinishTime: makespan;

subject to {
  // Every job runs on exactly one press; jobs are not split.
  forall(j in Jobs)
    onePress: sum(p in Presses) assign[j][p] == 1;

  // No press is busy for longer than the makespan.
  forall(p in Presses)
    pressLoad: sum(j in Jobs) minutes[j] * assign[j][p] <= makespan;
}
