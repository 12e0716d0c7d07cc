// Generalised assignment of tutorial groups to teaching assistants: every
// group gets exactly one assistant, no assistant works more weekly hours than
// their contract, and the assistants' total preference score is as high as possible.

{string} Assistants = ...;   // teaching assistants of the term
{string} Groups = ...;       // tutorial groups to be taught

float hours[Groups] = ...;                       // weekly hours a group takes, preparation included
float contract[Assistants] = ...;                // weekly hours in each assistant's contract
float preference[Assistants][Groups] = ...;      // how much an assistant likes to teach a group (1 to 5)

// 1 if the assistant teaches the group.
dvar boolean teach[Assistants][Groups];

// Total preference score of the assignments.
maximize Happiness: sum(a in Assistants, g in Groups) preference[a][g] * teach[a][g];

subject to {
  // Every group is taught by exactly one assistant.
  forall(g in Groups)
    oneAssistant: sum(a in Assistants) teach[a][g] == 1;

  // Nobody works more weekly hours than their contract.
  forall(a in Assistants)
    contractHours: sum(g in Groups) hours[g] * teach[a][g] <= contract[a];
}
