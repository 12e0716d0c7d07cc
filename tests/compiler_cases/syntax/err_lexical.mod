float a = 1.;
//        ^ error[T0002]: a number needs digits after its decimal point: write '1.0'
float b = 99999999999999999999;
//        ^ error[T0005]: the number 99999999999999999999 is too large for an int (the largest is 9223372036854775807); write it as a float, e.g. with a decimal point
float c = 1e999;
//        ^ error[T0006]: the number 1e999 is out of range
string s = "unterminated;
//         ^ error[T0007]: unterminated string: a string ends with '"' on the same line
string t = 'single';
//         ^ error[T0012]: strings are written in double quotes, as in "single"
float d = 3 # 4;
//          ^ error[T0015]: unexpected character '#'; comments start with '//'
dvar float x;
subject to {
  x ≤ 3;
//  ^ error[T0015]: unexpected character '≤' (write '<=')
  x & x;
//  ^ error[T0010]: unexpected character '&'; 'and' is written '&&'
  “quoted” == x;
//^ error[T0015]: unexpected character '“' (write '"')
//       ^ error[T0015]: unexpected character '”' (write '"')
  x >= 2 | 3;
//       ^ error[T0011]: unexpected character '|'; 'or' is written '||'
}
// v1 error[T0001]: unterminated comment: '/*' is never closed by '*/'
/* never closed
