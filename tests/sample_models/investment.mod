// The largest yearly return on up to $100,000.
{string} Assets = ...;
float rate[Assets] = ...;
float budget = ...;

dvar float+ amount[Assets];

maximize yearly_return: sum(a in Assets) rate[a] * amount[a];
subject to {
  money: sum(a in Assets) amount[a] <= budget;
  stocks_cap: amount["stocks"] <= 0.30 * budget;
  real_estate_cap: amount["real_estate"] <= 0.25 * budget;
  bonds_cover_stocks: amount["bonds"] >= amount["stocks"];
  savings_floor: amount["savings"] >= 10000;
}
