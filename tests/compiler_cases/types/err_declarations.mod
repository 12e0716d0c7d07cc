float f = 2.5;
int i = 2.5;
//      ^ error[T0308]: 'i' is an int, but its initializer is a float
string s = 3;
//         ^ error[T0308]: 's' is a string, but its initializer is an int
boolean flag = "yes";
//             ^ error[T0308]: 'flag' is a boolean, but its initializer is a string
{int} Sizes = {1, "two"};
//                ^ error[T0325]: the elements of a set have one type, but '"two"' is a string among int values
{string} Names = 1..3;
//               ^ error[T0310]: 'Names' holds string values, but '1..3' is a set of ints
tuple P { string name; int size; }
P p = <"x", 1, 2>;
//    ^ error[T0308]: 'p' is a tuple of type 'P', but its initializer is a tuple of 3 values ('P' has 2 fields)
P q = <"x", "big">;
//    ^ error[T0308]: 'q' is a tuple of type 'P', but its initializer is a tuple whose field 'size' is a string
float arr[1..2] = 4;
//                ^ error[T0312]: 'arr' is an array, so its initializer is a list in index order, as in '[1, 2, 3]'
float grid[1..2][1..2] = [1, 2];
//                        ^ error[T0313]: 'grid' has 2 dimensions, so its initializer is a list of lists, one level per dimension, as in '[[1, 2], [3, 4]]'
float n = [1, 2];
//        ^ error[T0141]: a list '[...]' can only initialise an array parameter
dvar int z;
dexpr int half = z / 2;
//               ^ error[T0311]: dexpr 'half' is int, but its expression is a float
dexpr float label = "z";
//                  ^ error[T0303]: a dexpr needs a number, but '"z"' is a string
range R = 1..f;
//           ^ error[T0326]: the bounds of a range are ints, but 'f' is a float
dvar float v[i];
//           ^ error[T0306]: a dimension is a set or a range, but 'i' is an int; write a range, as in '1..i'
