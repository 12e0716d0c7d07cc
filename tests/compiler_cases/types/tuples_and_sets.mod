// expect: objective 4800
// Tuples inside tuples, tuple-typed arrays, tuple literals as indices, empty sets.
// Optimum: the Oslo-Rome leg is held to 2 from both sides (depotZone: >= 2, direct: <= 2) at 2400 a
// trip; the Bonn-Oslo leg has no lower bound, so it stays 0: 2 * 2400.
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
//                   ^ warning[T0906]: the constraint has no members for this data: no binding values satisfy its forall
}
