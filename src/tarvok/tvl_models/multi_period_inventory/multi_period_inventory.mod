// Seasonal production planning with inventory: regular and overtime production
// and end-of-month stock for each month, so that monthly demand is met on
// time, capacities and the cold store are respected, the final stock target
// is reached, and production plus storage costs are as low as possible.

int monthCount = ...;              // months in the plan
range Months = 1..monthCount;      // April is month 1

float demand[Months] = ...;        // litres sold in each month
float regularCapacity = ...;       // litres a month in regular shifts
float overtimeCapacity = ...;      // extra litres a month in overtime
float regularCost = ...;           // cost of a litre made in regular time (euros)
float overtimeCost = ...;          // cost of a litre made in overtime (euros)
float holdingCost = ...;           // cost of keeping a litre in store for a month (euros)
float storeCapacity = ...;         // most litres the cold store holds
float initialStock = ...;          // litres in store at the start of the first month
float finalStock = ...;            // litres wanted in store at the end of the plan

// Litres made in regular time and in overtime in each month, within the monthly capacities.
dvar float+ regular[Months] in 0..regularCapacity;
dvar float+ overtime[Months] in 0..overtimeCapacity;
// Litres in the cold store at the end of each month, within the store's capacity.
dvar float+ stock[Months] in 0..storeCapacity;

// Cost of the plan: regular and overtime production plus storage.
minimize PlanCost: sum(m in Months) regularCost * regular[m]
                 + sum(m in Months) overtimeCost * overtime[m]
                 + sum(m in Months) holdingCost * stock[m];

subject to {
  // First month: opening stock plus production covers demand, the rest stays in store.
  firstMonth: initialStock + regular[1] + overtime[1] == demand[1] + stock[1];

  // Later months: last month's stock plus production covers demand, the rest stays in store.
  forall(m in Months: m > 1)
    monthBalance: stock[m - 1] + regular[m] + overtime[m] == demand[m] + stock[m];

  // The plan ends with the wanted stock in the cold store.
  endStock: stock[monthCount] >= finalStock;
}
