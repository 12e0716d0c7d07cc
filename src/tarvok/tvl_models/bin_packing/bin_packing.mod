// Loading parcels into vans (bin packing): put every parcel into exactly one
// van, keep each van within its load limit, and use as few vans as possible.

int vanCount = ...;             // vans on the lot
range Vans = 1..vanCount;       // the vans, numbered
{string} Parcels = ...;         // parcels to deliver tomorrow

float weight[Parcels] = ...;    // weight of each parcel (kg)
float vanCapacity = ...;        // most a van can carry (kg)

// 1 if the van is used tomorrow.
dvar boolean used[Vans];
// 1 if the parcel is loaded into the van.
dvar boolean load[Parcels][Vans];

// Number of vans used.
minimize VansUsed: sum(v in Vans) used[v];

subject to {
  // Every parcel goes into exactly one van; parcels are not split.
  forall(p in Parcels)
    loadedOnce: sum(v in Vans) load[p][v] == 1;

  // A van carries nothing unless it is used, and never more than its capacity.
  forall(v in Vans)
    vanLoad: sum(p in Parcels) weight[p] * load[p][v] <= vanCapacity * used[v];

  // Use the vans in number order, so that equivalent loadings are not searched twice.
  forall(v in Vans: v > 1)
    vanOrder: used[v] <= used[v - 1];
}
