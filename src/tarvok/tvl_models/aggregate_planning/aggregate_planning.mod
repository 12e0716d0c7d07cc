// Aggregate production and workforce planning: for each month decide how many
// assemblers to hire and let go, how many bikes to build and how many to keep
// in stock, so that sales are met without back orders, output matches the
// workforce, hiring stays within its limit, the final stock target is reached,
// and wages, hiring, firing and storage costs are as low as possible.

int monthCount = ...;              // months in the plan
range Months = 1..monthCount;      // March is month 1

float sales[Months] = ...;         // bikes sold in each month
float initialWorkers = ...;        // assemblers employed now
float bikesPerWorker = ...;        // bikes an assembler builds in a month
float wage = ...;                  // monthly wage of an assembler (euros)
float hireCost = ...;              // cost of hiring and training one assembler (euros)
float fireCost = ...;              // severance for letting one assembler go (euros)
float maxHires = ...;              // most assemblers hired in a month
float storageCost = ...;           // cost of storing one bike for a month (euros)
float initialStock = ...;          // bikes in stock now
float finalStock = ...;            // bikes wanted in stock at the end of the plan

// Assemblers employed during each month (fractions allowed for planning).
dvar float+ workers[Months];
// Assemblers hired and let go at the start of each month; hiring is limited.
dvar float+ hired[Months] in 0..maxHires;
dvar float+ fired[Months];
// Bikes built in each month.
dvar float+ built[Months];
// Bikes in stock at the end of each month.
dvar float+ stock[Months];

// Wages, hiring, firing and storage over the plan.
minimize PlanCost: sum(m in Months) wage * workers[m]
                 + sum(m in Months) hireCost * hired[m]
                 + sum(m in Months) fireCost * fired[m]
                 + sum(m in Months) storageCost * stock[m];

subject to {
  // First month: today's workforce changed by hiring and letting go.
  firstWorkforce: workers[1] == initialWorkers + hired[1] - fired[1];

  // Later months: last month's workforce changed by hiring and letting go.
  forall(m in Months: m > 1)
    workforceBalance: workers[m] == workers[m - 1] + hired[m] - fired[m];

  // Output is what the month's assemblers build.
  forall(m in Months)
    output: built[m] == bikesPerWorker * workers[m];

  // First month: stock now plus bikes built cover sales; the rest stays in stock.
  firstStock: initialStock + built[1] == sales[1] + stock[1];

  // Later months: last month's stock plus bikes built cover sales; the rest stays in stock.
  forall(m in Months: m > 1)
    stockBalance: stock[m - 1] + built[m] == sales[m] + stock[m];

  // The plan ends with the wanted stock.
  endStock: stock[monthCount] >= finalStock;
}
