// expect: data:1:6: 'True' is not a value; write 'true'
// expect: data:2:7: 'FALSE' is not a value; write 'false'
// expect: data:3:3: ':=' is not an operator; write '='
// expect: data:4:13: unexpected character '#'; comments start with '//'
// Data written as Python and other data formats write it.
boolean on = ...;
boolean off = ...;
int n = ...;
float rate = ...;
dvar float x;
minimize x;
