// Crop planning for one season: hectares of each crop to plant so that profit
// is as large as possible within the farm's land, irrigation water and labour,
// with a minimum area of each crop for rotation and a cap on maize.

{string} Crops = ...;   // crops that can be planted

float profit[Crops] = ...;     // profit per hectare of each crop (euros)
float water[Crops] = ...;      // irrigation water per hectare (thousand m3)
float labour[Crops] = ...;     // hours of work per hectare
float land = ...;              // hectares of the farm
float waterLicence = ...;      // irrigation water allowed for the season (thousand m3)
float labourHours = ...;       // hours of work available in the season
float rotationMinimum = ...;   // least hectares of every crop, for rotation
float maizeMaximum = ...;      // most hectares of maize the market takes

// Hectares planted with each crop; at least the rotation minimum of each.
dvar float planted[Crops] in rotationMinimum..land;

// Profit of the season.
maximize SeasonProfit: sum(c in Crops) profit[c] * planted[c];

subject to {
  // Planted land cannot exceed the farm; the rest lies fallow.
  landLimit: sum(c in Crops) planted[c] <= land;

  // Irrigation stays within the water licence.
  waterLimit: sum(c in Crops) water[c] * planted[c] <= waterLicence;

  // Work stays within the available hours.
  labourLimit: sum(c in Crops) labour[c] * planted[c] <= labourHours;

  // The maize market takes no more than its cap.
  maizeMarket: planted["Maize"] <= maizeMaximum;
}
