// expect: objective 25716.001
/* Every number form, string escapes, both comment styles,
   and 'to' as an ordinary name outside 'subject to'. */
// Optimum: x at its lower bound a + b + c + d + e + f = 12 + 3.5 + 0.5 + 0.001 + 25000 + 700.
float a = 12;          // an int is a valid float
float b = 3.5;
float c = .5;
float d = 1e-3;
float e = 2.5E+4;
float f = 7E2;
string quote = "say \"hi\"\t\\ done\n";
string unicode = "Zürich – 東京";
tuple Route { string from; string to; }
Route r = <"A", "B">;
string to = r.to;
dvar float x;/* comment glued to code */minimize x;
subject   to{x>=a+b+c+d+e+f;}
