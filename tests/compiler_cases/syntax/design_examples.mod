// expect: objective 0
// The declarations, variables and constraints of the language description, as written there.
// Optimum: the cost is shipping at 4.5 and 2 a unit, which can all be 0 while the other constraints
// hold (x = 10, stock and make at the demand).
int n;                       float capacity = 100;        string plant = ...;
range Days = 1..n;           {string} Cities;             {int} Sizes = {1, 2, 4};
tuple Arc { string from; string to; float cost; }         {Arc} Arcs = ...;
float demand[Cities];        float dist[Cities][Cities] = ...;     int hours[Days][1..3];
range R = 1..card(Cities);   float total = sum(c in Cities) demand[c];

dvar float x;                dvar float+ ship[Arcs];      dvar int+ trucks[Cities] in 0..10;
dvar boolean open[Cities];   dexpr float cost = sum(a in Arcs) a.cost * ship[a];
dvar float+ stock[Cities][Days];
dvar float+ make[Cities][Days];
dvar float+ ship_out[Cities];

minimize cost;

subject to {
  supply: sum(a in Arcs: a.from == "A") ship[a] <= capacity;
  forall(c in Cities, d in Days: d > 1)
    balance: stock[c][d] == stock[c][d-1] + make[c][d] - demand[c];
  forall(c in Cities) { cap: ship_out[c] <= 50 * open[c];  ship_out[c] >= 0; }
  10 <= x <= 20;
}
