// Data written as Python and other data formats write it.
boolean on = ...;
boolean off = ...;
int n = ...;
float rate = ...;
dvar float x;
minimize x;
