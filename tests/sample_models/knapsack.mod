// The most valuable load a hiker can carry.
{string} Items = ...;
float weight[Items] = ...;
float value[Items] = ...;
float capacity = ...;

dvar boolean take[Items];

maximize carried_value: sum(i in Items) value[i] * take[i];
subject to {
  load: sum(i in Items) weight[i] * take[i] <= capacity;
}
