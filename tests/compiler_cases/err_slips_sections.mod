// expect: model:10:1: 'Minimize' is not a keyword; write 'minimize'
// expect: model:11:1: 'Subject To' is not a keyword; write 'subject to'
// expect: model:14:1: 'subjet to' is not a keyword; write 'subject to'
// expect: model:17:1: 's.t.' is not a keyword; write 'subject to { ... }' around the constraints
// expect: model:18:1: 'such that' is not a keyword; write 'subject to { ... }' around the constraints
// expect: model:19:1: 'st' is not a keyword; write 'subject to { ... }' around the constraints
// Objective and constraint sections in the spellings of other languages.
dvar float+ x;
dvar float+ y;
Minimize x + y;
Subject To {
  x >= 1;
}
subjet to {
  y >= 1;
}
s.t. c1: x >= 2;
such that x + y >= 3;
st x <= 9;
