// expect: objective 0
// Constraint forms: labels, foralls with conditions, blocks, nesting, ranges, indexing styles.
// Optimum: no objective, so a feasible point scores 0: x = 0, make = demand and stock = 0 hold every
// constraint (make['a'][1] = 1 and make['b'][2] = 3 meet 'linked', make['a'] stays under 10 * t).
int T = 4;
range Periods = 1..T;
{string} Items = {"a", "b"};
float demand[Items][Periods] = [[1, 2, 3, 4], [4, 3, 2, 1]];
tuple Link { string item; int period; }
{Link} Links = {<"a", 1>, <"b", 2>};

dvar float+ stock[Items][Periods];
dvar float+ make[Items][Periods];
dvar float x;

subject to {
  plain: x >= 0;
  -5 <= x - 1 <= 5;
  limit: 0 <= sum(i in Items) make[i][1] <= 100;
  forall(i in Items, t in Periods: t > 1)
    balance: stock[i][t] == stock[i][t-1] + make[i][t] - demand[i][t];
  forall(i in Items) {
    start: stock[i][1] == make[i][1] - demand[i][1];
    forall(t in Periods: t >= 2 && t <= T - 1 || t == T)
      stock[i, t] <= 50;
  }
  forall(l in Links)
    linked: make[l.item][l.period] >= 1;
  forall(t in 1..T: t in {1, 3})
    odd: sum(i in Items: i != "b") make[i][t] <= 10 * t;
  forall(i in Items)
    forall(t in Periods)
      forall(u in Periods: u == t)
        make[i][t] - make[i][u] == 0;
  x == -(-x);
  +x >= -x / 2 - 1;
}
