// Clinic siting as a p-median problem: open exactly the affordable number of
// clinics and assign every town to one open clinic, so that the total of
// population times travel distance is as small as possible.

{string} Towns = ...;   // towns, each a possible clinic site and a source of patients

float population[Towns] = ...;          // residents of each town (thousands)
float distance[Towns][Towns] = ...;     // road distance between two towns (km)
int clinicsToOpen = ...;                // clinics the authority can afford

// 1 if a clinic opens in the town.
dvar boolean open[Towns];
// 1 if the residents of the first town go to the clinic in the second town.
dvar boolean serve[Towns][Towns];

// Total of population times distance travelled to the assigned clinic.
minimize PeopleKilometres: sum(t in Towns, c in Towns) population[t] * distance[t][c] * serve[t][c];

subject to {
  // Exactly the affordable number of clinics opens.
  clinicCount: sum(c in Towns) open[c] == clinicsToOpen;

  // Every town is served by exactly one clinic.
  forall(t in Towns)
    servedOnce: sum(c in Towns) serve[t][c] == 1;

  // Residents can only go to a clinic that is open.
  forall(t in Towns, c in Towns)
    onlyOpenClinics: serve[t][c] <= open[c];
}
