// expect: compiles
// Every kind of data declaration, values from initializers and from the data.
int n = ...;
int m;
float capacity = 100;
string plant = ...;
boolean verbose = ...;
boolean strict = true;
boolean loose = 0;
range Days = 1..n;
{string} Cities = ...;
{string} Cities2 = {"x", "y"};
range Shifts = 1..card(Cities2) + m;
{int} Sizes = {1, 2, 4};
{float} Levels = {0.5, 1, 2.5};
{int} Weeks = 1..m;
{int} SameDays = Days;
tuple Arc { string from; string to; float cost; }
{Arc} Arcs = ...;
{Arc} Local = {<"A", "A", 0>, <"B", "B", 1.5>};
Arc cheapest = <"A", "B", 1>;
Arc fromData = ...;
float demand[Cities];
float dist[Cities][Cities] = ...;
int hours[Days][1..3];
int grid[1..2][1..2] = [[1, 2], [3, 4]];
string names[Sizes] = ["small", "medium", "large"];
float arcLoad[Arcs] = ...;
boolean allowed[Cities] = [true, 0];
float total = sum(c in Cities) demand[c];
float biggest = max(c in Cities) demand[c];
float smallest = min(c in Cities, d in Cities: c != d) dist[c][d];
float spread = abs(smallest - biggest) / 2;
int count = card(Arcs) + card(Days) + card(1..4);
boolean hasA = "A" in Cities && !("Z" in Cities) || false;
float weighted = sum(a in Arcs: a.from in Cities) a.cost * arcLoad[a];
dvar float x;
minimize x;
