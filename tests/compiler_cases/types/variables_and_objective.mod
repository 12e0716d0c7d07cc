// expect: compiles
// Decision variables of every kind, bounds from data, dexprs, maximize with a label.
{string} Cities = {"A", "B", "C"};
float cap[Cities] = [10, 20, 30];
int maxTrucks = 10;
tuple Arc { string from; string to; }
{Arc} Arcs = {<"A", "B">, <"B", "C">};

dvar float x;
dvar float+ y;
dvar int z in -5..5;
dvar int+ trucks[Cities] in 0..maxTrucks;
dvar boolean open[Cities];
dvar float+ ship[Arcs] in 0..max(c in Cities) cap[c];
dvar float level[Cities][1..3] in -1.5..cap["C"] * 2;
dexpr float shipped = sum(a in Arcs) ship[a];
dexpr float score = 2 * shipped - sum(c in Cities) (3 * trucks[c] + open[c]) + x / 4;
dexpr int trucksUsed = sum(c in Cities) trucks[c];

maximize profit: score - 0.5 * y + z - trucksUsed;

subject to {
  y <= 100;
  sum(c in Cities, k in 1..3) level[c][k] == 0;
}
