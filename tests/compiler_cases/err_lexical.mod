// expect: model:13:11: a number needs digits after its decimal point: write '1.0'
// expect: model:14:11: the number 99999999999999999999 is too large for an int (the largest is 9223372036854775807); write it as a float, e.g. with a decimal point
// expect: model:15:11: the number 1e999 is out of range
// expect: model:16:12: unterminated string: a string ends with '"' on the same line
// expect: model:17:12: strings are written in double quotes, as in "single"
// expect: model:18:13: unexpected character '#'; comments start with '//'
// expect: model:21:5: unexpected character '≤' (write '<=')
// expect: model:22:5: unexpected character '&'; 'and' is written '&&'
// expect: model:23:3: unexpected character '“' (write '"')
// expect: model:23:10: unexpected character '”' (write '"')
// expect: model:24:10: unexpected character '|'; 'or' is written '||'
// expect: model:26:1: unterminated comment: '/*' is never closed by '*/'
float a = 1.;
float b = 99999999999999999999;
float c = 1e999;
string s = "unterminated;
string t = 'single';
float d = 3 # 4;
dvar float x;
subject to {
  x ≤ 3;
  x & x;
  “quoted” == x;
  x >= 2 | 3;
}
/* never closed
