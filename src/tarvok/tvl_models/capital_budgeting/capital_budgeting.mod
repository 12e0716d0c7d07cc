// Capital budgeting: choose which projects to fund, each completely or not at
// all, so that the total net present value is as high as possible, spending
// stays within each year's budget, and the dependencies and the exclusion
// between projects hold.

{string} Projects = ...;   // candidate investment projects
int yearCount = ...;       // years of the budget plan
range Years = 1..yearCount;

float npv[Projects] = ...;                 // net present value of each project (millions)
float spend[Projects][Years] = ...;        // spending a project needs in each year (millions)
float budget[Years] = ...;                 // money available in each year (millions)

// 1 if the project is funded.
dvar boolean fund[Projects];

// Net present value of the funded projects.
maximize PortfolioValue: sum(p in Projects) npv[p] * fund[p];

subject to {
  // Each year's spending on funded projects stays within that year's budget.
  forall(y in Years)
    yearlyBudget: sum(p in Projects) spend[p][y] * fund[p] <= budget[y];

  // The training centre only comes with the production line.
  trainingNeedsLine: fund["TrainingCentre"] <= fund["ProductionLine"];

  // The solar roof needs the new warehouse to sit on.
  solarNeedsWarehouse: fund["SolarRoof"] <= fund["Warehouse"];

  // The sales office and the electric fleet share one management team: at most one of them.
  oneManagementProject: fund["SalesOffice"] + fund["ElectricFleet"] <= 1;
}
