// expect: model:15:29: division by zero in data: 'demand["A"] / zero' divides by 'zero', which is 0
// expect: model:16:22: index "Paris" of 'demand' is not in 'Cities'
// expect: model:17:35: division by zero in data: '1 / rate[d]' divides by 'rate[d]', which is 0, when d = 2
// expect: model:20:36: index 4 of 'stock' is outside 'Days' (1..3), when c = "A"
// expect: model:23:38: index 'd - 1' = 0 of 'stock' is outside 'Days' (1..3), when c = "A", d = 1
// expect: model:24:31: index 'd' = 4 of 'make' is outside 'Days' (1..3), when d = 4
// expect: model:25:36: division by zero in data: the divisor 'rate[d]' is 0, when d = 2
// expect: model:26:8: index "Rome" of 'make' is not in 'Cities'
// expect: model:26:27: index 0 of 'rate' is outside 'Days' (1..3)
{string} Cities = {"A", "B"};
range Days = 1..3;
float demand[Cities] = [4, 5];
float rate[Days] = [1, 0, 2];
int zero = 0;
float ratio = demand["A"] / zero;
float paris = demand["Paris"];
float scaled = sum(d in Days) 1 / rate[d];
dvar float stock[Cities][Days];
dvar float make[Cities][Days];
minimize sum(c in Cities) stock[c][4];
subject to {
  forall(c in Cities, d in Days)
    balance: stock[c][d] == stock[c][d - 1] + make[c][d] - demand[c];
  forall(d in 1..4) make["A"][d] >= 0;
  forall(d in Days) make["B"][d] / rate[d] <= 5;
  make["Rome"][1] >= rate[0];
}
