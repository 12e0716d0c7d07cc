// expect: compiles
// Tuples inside tuples, tuple-typed arrays, tuple literals as indices, empty sets.
tuple Place { string city; int zone; }
tuple Leg { Place origin; Place destination; float km; }
{Leg} Legs = ...;
Place home = <"Oslo", 1>;
Leg longest = <<"Oslo", 1>, <"Rome", 3>, 2400>;
Place depots[1..2] = ...;
{string} Spare = ...;
float spareCost[Spare] = ...;
{float} Sizes = {0.5, 1, 2.5};
{Place} Visited = {<"Oslo", 1>, <"Bonn", 2>};

dvar float+ travel[Legs];
dvar float+ extra[Spare];

minimize sum(l in Legs) l.km * travel[l] + sum(s in Spare) spareCost[s] * extra[s];

subject to {
  forall(l in Legs: l.origin == home && l.destination.zone > 1)
    outbound: travel[l] >= 1;
  forall(l in Legs: l.origin in Visited && 1 in Sizes)
    travel[l] <= 10;
  direct: travel[<<"Oslo", 1>, <"Rome", 3>, 2400>] <= 2;
  depotZone: travel[longest] >= depots[2].zone;
  forall(s in Spare) extra[s] <= 1;
}
