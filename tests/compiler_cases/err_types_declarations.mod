// expect: model:16:9: 'i' is an int, but its initializer is a float
// expect: model:17:12: 's' is a string, but its initializer is an int
// expect: model:18:16: 'flag' is a boolean, but its initializer is a string
// expect: model:19:19: the elements of a set have one type, but '"two"' is a string among int values
// expect: model:20:18: 'Names' holds string values, but '1..3' is a set of ints
// expect: model:22:7: 'p' is a tuple of type 'P', but its initializer is a tuple of 3 values ('P' has 2 fields)
// expect: model:23:7: 'q' is a tuple of type 'P', but its initializer is a tuple whose field 'size' is a string
// expect: model:24:19: 'arr' is an array, so its initializer is a list in index order, as in '[1, 2, 3]'
// expect: model:25:27: 'grid' has 2 dimensions, so its initializer is a list of lists, one level per dimension, as in '[[1, 2], [3, 4]]'
// expect: model:26:11: a list '[...]' can only initialise an array parameter
// expect: model:28:18: dexpr 'half' is int, but its expression is a float
// expect: model:29:21: a dexpr needs a number, but '"z"' is a string
// expect: model:30:14: the bounds of a range are ints, but 'f' is a float
// expect: model:31:14: a dimension is a set or a range, but 'i' is an int; write a range, as in '1..i'
float f = 2.5;
int i = 2.5;
string s = 3;
boolean flag = "yes";
{int} Sizes = {1, "two"};
{string} Names = 1..3;
tuple P { string name; int size; }
P p = <"x", 1, 2>;
P q = <"x", "big">;
float arr[1..2] = 4;
float grid[1..2][1..2] = [1, 2];
float n = [1, 2];
dvar int z;
dexpr int half = z / 2;
dexpr float label = "z";
range R = 1..f;
dvar float v[i];
