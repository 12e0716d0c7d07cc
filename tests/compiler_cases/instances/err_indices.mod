{string} Cities = {"A", "B"};
range Days = 1..3;
float demand[Cities] = [4, 5];
float rate[Days] = [1, 0, 2];
int zero = 0;
float ratio = demand["A"] / zero;
//                          ^ error[T0602]: division by zero in data: 'demand["A"] / zero' divides by 'zero', which is 0
float paris = demand["Paris"];
//                   ^ error[T0601]: index "Paris" of 'demand' is not in 'Cities'
float scaled = sum(d in Days) 1 / rate[d];
//                                ^ error[T0602]: division by zero in data: '1 / rate[d]' divides by 'rate[d]', which is 0, when d = 2
dvar float stock[Cities][Days];
dvar float make[Cities][Days];
minimize sum(c in Cities) stock[c][4];
//                                 ^ error[T0601]: index 4 of 'stock' is outside 'Days' (1..3), when c = "A"
subject to {
  forall(c in Cities, d in Days)
    balance: stock[c][d] == stock[c][d - 1] + make[c][d] - demand[c];
//                                   ^ error[T0601]: index 'd - 1' = 0 of 'stock' is outside 'Days' (1..3), when c = "A", d = 1
  forall(d in 1..4) make["A"][d] >= 0;
//                            ^ error[T0601]: index 'd' = 4 of 'make' is outside 'Days' (1..3), when d = 4
  forall(d in Days) make["B"][d] / rate[d] <= 5;
//                                 ^ error[T0602]: division by zero in data: the divisor 'rate[d]' is 0, when d = 2
  make["Rome"][1] >= rate[0];
//     ^ error[T0601]: index "Rome" of 'make' is not in 'Cities'
//                        ^ error[T0601]: index 0 of 'rate' is outside 'Days' (1..3)
}
