// expect: model:7:1: declarations must come before the objective
// expect: model:8:1: a model has only one objective (found a second 'maximize')
// expect: model:10:1: a model has only one 'subject to' block; put all constraints in it
// expect: model:11:1: the objective must come before 'subject to'
dvar float x;
minimize x;
float late = 1;
maximize x;
subject to { x >= 0; }
subject to { x <= 1; }
minimize x;
