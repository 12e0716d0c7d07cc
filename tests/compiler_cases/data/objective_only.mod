// expect: objective 0
// An objective and no constraints; an empty data text.
// Optimum: 2 * v with v >= 0 is least at v = 0.
float w = 2;
dvar float+ v;
minimize w * v;
