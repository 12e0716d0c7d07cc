// Objective and constraint sections in the spellings of other languages.
dvar float+ x;
dvar float+ y;
Minimize x + y;
// ^1 error[T0801]: 'Minimize' is not a keyword; write 'minimize'
Subject To {
// ^1 error[T0801]: 'Subject To' is not a keyword; write 'subject to'
  x >= 1;
}
subjet to {
// ^1 error[T0801]: 'subjet to' is not a keyword; write 'subject to'
  y >= 1;
}
s.t. c1: x >= 2;
// ^1 error[T0801]: 's.t.' is not a keyword; write 'subject to { ... }' around the constraints
such that x + y >= 3;
// ^1 error[T0801]: 'such that' is not a keyword; write 'subject to { ... }' around the constraints
st x <= 9;
// ^1 error[T0801]: 'st' is not a keyword; write 'subject to { ... }' around the constraints
