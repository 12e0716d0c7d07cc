float a
//    ^ error[T0506]: 'a' has no value: give it one in the data ('a = ...;') or an initializer in the model
//     ^ error[T0103]: missing ';' after 'a'
float b = 2
//         ^ error[T0103]: missing ';' after the number 2
dvar float x;
minimize a * x
//            ^ error[T0103]: missing ';' after 'x'
subject to {
  c1: x >= b
//          ^ error[T0103]: missing ';' after 'b'
  c2: x <= 10;
}
