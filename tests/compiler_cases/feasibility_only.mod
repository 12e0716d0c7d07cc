// expect: compiles
// No objective: a feasibility model; data file holds only comments.
dvar float x in 0..10;
dvar int k;
subject to {
  x + k >= 3;
};
