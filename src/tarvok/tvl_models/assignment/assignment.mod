// Assignment of documents to translators: every translator takes exactly one
// document and every document goes to exactly one translator, so that the
// total translation time is as small as possible.

{string} Translators = ...;   // translators available today
{string} Documents = ...;     // documents that came in today

float hours[Translators][Documents] = ...;   // hours a translator needs for a document

// 1 if the translator is given the document, 0 otherwise.
dvar boolean assign[Translators][Documents];

// Total hours spent translating.
minimize TotalHours: sum(t in Translators, d in Documents) hours[t][d] * assign[t][d];

subject to {
  // Each translator takes exactly one document.
  forall(t in Translators)
    oneDocumentEach: sum(d in Documents) assign[t][d] == 1;

  // Each document is translated by exactly one translator.
  forall(d in Documents)
    oneTranslatorEach: sum(t in Translators) assign[t][d] == 1;
}
