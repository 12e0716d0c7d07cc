dvar float x;
minimize x;
float late = 1;
// ^1 error[T0108]: declarations must come before the objective
maximize x;
// ^1 error[T0124]: a model has only one objective (found a second 'maximize')
subject to { x >= 0; }
subject to { x <= 1; }
// ^1 error[T0126]: a model has only one 'subject to' block; put all constraints in it
minimize x;
// ^1 error[T0123]: the objective must come before 'subject to'
