{string} S = {"a", "b"};
float v[S] = [1, 2;
//                ^ error[T0102]: expected ']' to close the '[' at 2:14, found ';'
dvar float x[S];
minimize sum(s in S) (v[s] * x[s];
//                               ^ error[T0102]: expected ')' to close the '(' at 5:22, found ';'
subject to {
  forall(s in S) {
    x[s] >= 0;
// end error[T0102]: expected '}' to close the '{' at 8:18, found the end of the text
