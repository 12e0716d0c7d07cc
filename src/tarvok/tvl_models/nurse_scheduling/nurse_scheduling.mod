// Weekly nurse rostering: each nurse works five consecutive days and then has
// two days off, repeating every week. Decide how many nurses start their
// stretch on each weekday so that every day has enough nurses on the ward and
// the number of nurses employed is as small as possible.

{string} Days = ...;   // days of the week, Monday first

float required[Days] = ...;         // nurses the ward needs on each day
int onDuty[Days][Days] = ...;       // 1 if a nurse who starts on the first day works on the second day

// Whole number of nurses starting their five-day stretch on each day.
dvar int+ start[Days];

// Nurses employed: everyone starts on exactly one day of the week.
minimize NursesEmployed: sum(s in Days) start[s];

subject to {
  // Every day has at least the nurses the ward needs.
  forall(d in Days)
    dailyCover: sum(s in Days) onDuty[s][d] * start[s] >= required[d];
}
