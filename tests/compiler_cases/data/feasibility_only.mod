// expect: objective 0
// No objective: a feasibility model; data file holds only comments.
// Optimum: no objective, so a feasible point (x = 3, k = 0) scores 0.
dvar float x in 0..10;
dvar int k;
subject to {
  x + k >= 3;
};
