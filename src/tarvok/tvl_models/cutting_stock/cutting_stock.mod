// Cutting stock: how many jumbo rolls to cut with each cutting pattern so that
// every ordered width is produced in at least the ordered number and as few
// jumbo rolls as possible are used.

{string} Widths = ...;        // ordered roll widths
int patternCount = ...;       // cutting patterns worked out in advance
range Patterns = 1..patternCount;

float ordered[Widths] = ...;                 // rolls ordered of each width
int piecesCut[Patterns][Widths] = ...;       // rolls of each width that one use of a pattern yields

// Jumbo rolls cut with each pattern; a whole roll is cut by one pattern.
dvar int+ uses[Patterns];

// Jumbo rolls used.
minimize JumboRolls: sum(p in Patterns) uses[p];

subject to {
  // Every width is produced in at least the ordered quantity.
  forall(w in Widths)
    orderFilled: sum(p in Patterns) piecesCut[p][w] * uses[p] >= ordered[w];
}
