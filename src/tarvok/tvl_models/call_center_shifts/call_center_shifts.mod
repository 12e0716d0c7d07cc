// Call-centre staffing: whole numbers of agents on each shift so that every
// opening hour has enough agents on the phones, full-time staff make up the
// agreed share, and the daily wage bill is as low as possible.

int openFrom = ...;                 // first opening hour (clock hour at which it starts)
int openUntil = ...;                // hour at which the centre closes
range Hours = openFrom..openUntil - 1;

// A shift: when it starts, how many hours it lasts, what an agent on it costs,
// and whether it is a full-time shift (1) or part-time (0).
tuple Shift { string name; int begin; int length; float wage; int fullTime; }
{Shift} Shifts = ...;

float agentsNeeded[Hours] = ...;    // agents needed on the phones in the hour starting at each clock hour
float minFullTimeShare = ...;       // least share of all agents that must be full-time

// Agents scheduled on each shift.
dvar int+ staff[Shifts];

// Daily wage bill.
minimize WageBill: sum(s in Shifts) s.wage * staff[s];

subject to {
  // In every hour the agents whose shift covers it are enough.
  forall(h in Hours)
    hourlyCover: sum(s in Shifts: s.begin <= h && h < s.begin + s.length) staff[s] >= agentsNeeded[h];

  // Full-time agents make up at least the agreed share of everyone on duty.
  fullTimeShare: sum(s in Shifts: s.fullTime == 1) staff[s] >= minFullTimeShare * (sum(s in Shifts) staff[s]);
}
