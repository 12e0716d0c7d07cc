// Project crashing: decide when each activity starts and by how many days it
// is shortened, so that every activity starts after its predecessors finish,
// the project ends by the deadline, and the extra cost of shortening is as low as possible.

{string} Activities = ...;   // activities of the renovation

float normalDays[Activities] = ...;    // planned duration of each activity (days)
float shortestDays[Activities] = ...;  // shortest possible duration of each activity (days)
float crashCost[Activities] = ...;     // extra cost of shortening an activity by one day (euros)
float deadline = ...;                  // day by which the project must be finished
string lastActivity = ...;             // the activity whose end finishes the project

// A precedence: the second activity may start only when the first has finished.
tuple Precedence { string before; string after; }
{Precedence} Precedences = ...;

// Day on which each activity starts (day 0 is the start of the project).
dvar float+ start[Activities];
// Days by which each activity is shortened.
dvar float+ shorten[Activities];

// Extra cost of all shortening.
minimize CrashingCost: sum(a in Activities) crashCost[a] * shorten[a];

subject to {
  // An activity cannot be shortened below its shortest possible duration.
  forall(a in Activities)
    shortestDuration: shorten[a] <= normalDays[a] - shortestDays[a];

  // An activity starts only after each predecessor has finished.
  forall(p in Precedences)
    precedence: start[p.after] >= start[p.before] + normalDays[p.before] - shorten[p.before];

  // The last activity finishes by the deadline.
  finishOnTime: start[lastActivity] + normalDays[lastActivity] - shorten[lastActivity] <= deadline;
}
