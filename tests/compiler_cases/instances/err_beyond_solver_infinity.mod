// Numbers the solver would read as infinity, written or computed; 9.9e19 is still a number.
float big = 1e10;
float cost[1..3] = ...;
float floor = ...;
dvar float+ x in 0..1e20;
//                  ^ error[T0606]: the number 1e20 is at or beyond 1e20, which the solver reads as infinity; choose units that make it smaller
float square = big * big;
//             ^ error[T0606]: the value of 'big * big' is at or beyond 1e20, which the solver reads as infinity; choose units that make it smaller
float near = 9.9e19;
float total = sum(i in 1..3) cost[i];
//            ^ error[T0606]: the value of 'sum(i in 1..3) cost[i]' is at or beyond 1e20, which the solver reads as infinity; choose units that make it smaller
minimize x;
subject to {
  x >= near / 1e19 + floor / 1e30;
//                           ^ error[T0606]: the number 1e30 is at or beyond 1e20, which the solver reads as infinity; choose units that make it smaller
}
