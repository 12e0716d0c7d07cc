// expect: model:5:19: expected ']' to close the '[' at 5:14, found ';'
// expect: model:7:34: expected ')' to close the '(' at 7:22, found ';'
// expect: model:11:1: expected '}' to close the '{' at 9:18, found the end of the text
{string} S = {"a", "b"};
float v[S] = [1, 2;
dvar float x[S];
minimize sum(s in S) (v[s] * x[s];
subject to {
  forall(s in S) {
    x[s] >= 0;
