// expect: compiles
// An objective and no constraints; an empty data text.
float w = 2;
dvar float+ v;
minimize w * v;
